#include "index/CacheFile.h"
#include "index/JsonWriter.h"

#include <simdjson.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::index {

namespace od = simdjson::ondemand;

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what);
}

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

std::string text(od::value value)
{
    return restoreRawBytes(std::string_view(value.get_string()));
}

std::int64_t integer(od::value value)
{
    std::int64_t whole;
    if (value.get_int64().get(whole) == simdjson::SUCCESS)
        return whole;
    // A writer may give a whole number a fraction part ("120.0").
    const double number = value.get_double();
    if (number != std::floor(number) || std::abs(number) > 9.0e15)
        fail("a whole number was expected");
    return static_cast<std::int64_t>(number);
}

Uuid uuid(od::value value)
{
    const auto id = Uuid::parse(std::string_view(value.get_string()));
    if (!id)
        fail("an identifier is not a UUID");
    return *id;
}

std::vector<std::string> stringArray(od::value value)
{
    std::vector<std::string> out;
    for (auto element : value.get_array())
        out.push_back(text(element.value()));
    return out;
}

FileInfo decodeFile(od::object object)
{
    FileInfo file;
    bool hasID = false, hasPath = false, hasName = false, hasURL = false;
    for (auto field : object) {
        const std::string_view key = field.unescaped_key();
        od::value value = field.value();
        if (key == "id") {
            file.id = uuid(value);
            hasID = true;
        } else if (key == "path") {
            file.path = text(value);
            hasPath = true;
        } else if (key == "name") {
            file.name = text(value);
            hasName = true;
        } else if (key == "bpm") {
            if (!value.is_null())
                file.bpm = integer(value);
        } else if (key == "key") {
            if (!value.is_null())
                file.key = text(value);
        } else if (key == "duration") {
            if (!value.is_null())
                file.duration = double(value.get_double());
        } else if (key == "url") {
            // The URL is derived from the path; it only has to be there and well formed.
            for (auto member : value.get_object()) {
                if (std::string_view(member.unescaped_key()) == "relative") {
                    (void)std::string_view(member.value().get_string());
                    hasURL = true;
                }
            }
        }
    }
    if (!hasID || !hasPath || !hasName || !hasURL)
        fail("a file record lacks one of \"id\", \"path\", \"name\" or \"url\"");
    return file;
}

DirectoryInfo decodeDirectory(od::object object)
{
    DirectoryInfo folder;
    bool hasPath = false, hasFiles = false, hasSubdirectories = false, hasLastModified = false;
    for (auto field : object) {
        const std::string_view key = field.unescaped_key();
        od::value value = field.value();
        if (key == "path") {
            folder.path = text(value);
            hasPath = true;
        } else if (key == "files") {
            for (auto element : value.get_array())
                folder.files.push_back(decodeFile(element.get_object()));
            hasFiles = true;
        } else if (key == "subdirectories") {
            folder.subdirectories = stringArray(value);
            hasSubdirectories = true;
        } else if (key == "lastModified") {
            folder.lastModified = value.get_double();
            hasLastModified = true;
        } else if (key == "contentModified") {
            if (!value.is_null())
                folder.contentModified = double(value.get_double());
        } else if (key == "inode") {
            if (!value.is_null())
                folder.inode = std::uint64_t(value.get_uint64());
        }
    }
    if (!hasPath || !hasFiles || !hasSubdirectories || !hasLastModified)
        fail("a folder record lacks one of \"path\", \"files\", \"subdirectories\" or \"lastModified\"");
    return folder;
}

GroupID groupID(od::value value)
{
    return uuid(value).text();
}

void decodeSearchIndex(od::array array, GroupTokenIndex& out)
{
    auto it = array.begin();
    while (it != array.end()) {
        GroupID group = groupID((*it).value());
        ++it;
        if (it == array.end())
            fail("\"searchIndex\" ends with an identifier and no token map");
        TokenIndex& tokens = out[group];
        for (auto field : (*it).get_object()) {
            PathSet& paths = tokens[restoreRawBytes(std::string_view(field.unescaped_key()))];
            od::array list = field.value().get_array();
            // Sized once: growing the set step by step costs more than this extra structural pass.
            paths.reserve(paths.size() + list.count_elements());
            for (auto element : list)
                paths.insert(text(element.value()));
        }
        ++it;
    }
}

void decodeGroupRoots(od::array array, GroupRoots& out)
{
    auto it = array.begin();
    while (it != array.end()) {
        GroupID group = groupID((*it).value());
        ++it;
        if (it == array.end())
            fail("\"groupRoots\" ends with an identifier and no root list");
        out[group] = stringArray((*it).value());
        ++it;
    }
}

// A file written before names that are not UTF-8 were escaped holds their bytes raw, which no JSON
// reader accepts. Such bytes can only stand inside strings, so escaping them as the writer now does
// makes the file readable with every name intact.
simdjson::padded_string escapeRawBytes(std::string_view json)
{
    std::string out;
    out.reserve(json.size() + 64);
    for (std::size_t i = 0; i < json.size();) {
        char32_t cp = 0;
        const std::size_t length = utf8SequenceAt(json, i, cp);
        if (length) {
            out.append(json.data() + i, length);
            i += length;
        } else {
            appendRawByteEscape(out, static_cast<unsigned char>(json[i]));
            ++i;
        }
    }
    return simdjson::padded_string(out);
}

CacheData decodePadded(const simdjson::padded_string_view json)
{
    if (!simdjson::validate_utf8(json.data(), json.size())) {
        const simdjson::padded_string repaired = escapeRawBytes(std::string_view(json.data(), json.size()));
        return decodePadded(repaired);
    }

    CacheData data;
    bool hasDirectories = false, hasSearch = false, hasRoots = false, hasDate = false, hasVersion = false;
    try {
        od::parser parser;
        od::document document = parser.iterate(json);
        for (auto field : document.get_object()) {
            const std::string_view key = field.unescaped_key();
            od::value value = field.value();
            if (key == "directoryIndex") {
                for (auto entry : value.get_object()) {
                    std::string path = restoreRawBytes(std::string_view(entry.unescaped_key()));
                    data.directoryIndex[std::move(path)] = decodeDirectory(entry.value().get_object());
                }
                hasDirectories = true;
            } else if (key == "searchIndex") {
                decodeSearchIndex(value.get_array(), data.searchIndex);
                hasSearch = true;
            } else if (key == "groupRoots") {
                decodeGroupRoots(value.get_array(), data.groupRoots);
                hasRoots = true;
            } else if (key == "lastUpdate") {
                data.lastUpdate = value.get_double();
                hasDate = true;
            } else if (key == "version") {
                data.version = text(value);
                hasVersion = true;
            }
        }
    } catch (const simdjson::simdjson_error& error) {
        fail(std::string("the data is not a valid cache file (") + error.what() + ")");
    }
    if (!hasDirectories || !hasSearch || !hasRoots || !hasDate || !hasVersion)
        fail("the cache file lacks one of \"directoryIndex\", \"searchIndex\", \"groupRoots\", "
             "\"lastUpdate\" or "
             "\"version\"");
    return data;
}

void encodeFile(JsonWriter& out, const FileInfo& file)
{
    out.beginObject();
    out.key("id");
    out.value(file.id.text());
    out.key("path");
    out.value(file.path);
    out.key("name");
    out.value(file.name);
    if (file.bpm) {
        out.key("bpm");
        out.value(*file.bpm);
    }
    if (file.key) {
        out.key("key");
        out.value(*file.key);
    }
    if (file.duration) {
        out.key("duration");
        out.value(*file.duration);
    }
    out.key("url");
    out.beginObject();
    out.key("relative");
    out.value(file.url());
    out.endObject();
    out.endObject();
}

void encodeDirectory(JsonWriter& out, const DirectoryInfo& folder)
{
    out.beginObject();
    out.key("path");
    out.value(folder.path);
    out.key("files");
    out.beginArray();
    for (const auto& file : folder.files)
        encodeFile(out, file);
    out.endArray();
    out.key("subdirectories");
    out.beginArray();
    for (const auto& sub : folder.subdirectories)
        out.value(sub);
    out.endArray();
    out.key("lastModified");
    out.value(folder.lastModified);
    if (folder.contentModified) {
        out.key("contentModified");
        out.value(*folder.contentModified);
    }
    if (folder.inode) {
        out.key("inode");
        out.value(*folder.inode);
    }
    out.endObject();
}

std::string encode(const DirectoryIndex& directories, const GroupTokenIndex& search, const GroupRoots& roots,
    double lastUpdate, std::string_view version)
{
    JsonWriter out(directories.size() * 1024);
    out.beginObject();
    out.key("directoryIndex");
    out.beginObject();
    for (const auto& [path, folder] : directories) {
        out.key(path);
        encodeDirectory(out, folder);
    }
    out.endObject();
    out.key("searchIndex");
    out.beginArray();
    for (const auto& [group, tokens] : search) {
        out.value(group);
        out.beginObject();
        for (const auto& [token, paths] : tokens) {
            out.key(token);
            out.beginArray();
            for (const auto& path : paths)
                out.value(path);
            out.endArray();
        }
        out.endObject();
    }
    out.endArray();
    out.key("groupRoots");
    out.beginArray();
    for (const auto& [group, list] : roots) {
        out.value(group);
        out.beginArray();
        for (const auto& root : list)
            out.value(root);
        out.endArray();
    }
    out.endArray();
    out.key("lastUpdate");
    out.value(lastUpdate);
    out.key("version");
    out.value(version);
    out.endObject();
    return std::move(out.text());
}

} // namespace

std::string defaultCachePath()
{
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        base = "/tmp";
    const std::string folder = base + "/KIVO Browser";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder + "/SearchIndex.json";
}

CacheData decodeCacheData(std::string_view json)
{
    const simdjson::padded_string padded(json);
    return decodePadded(padded);
}

CacheData decodeCacheFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail(systemError("cannot open", path));
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail("not a readable file: " + path);
    }
    simdjson::padded_string buffer(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const std::string message
                = n < 0 ? systemError("cannot read", path) : "file shrank while read: " + path;
            ::close(fd);
            fail(message);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return decodePadded(buffer);
}

std::string encodeCacheData(const CacheData& data)
{
    return encode(data.directoryIndex, data.searchIndex, data.groupRoots, data.lastUpdate, data.version);
}

std::string encodeCacheData(const IndexMaps& maps, double lastUpdate)
{
    return encode(maps.directoryIndex, maps.searchIndex, maps.groupRoots, lastUpdate, kCacheVersion);
}

std::string readWholeFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        fail(systemError("cannot open", path));
    std::string out;
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        out.append(buffer, n);
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed)
        fail("cannot read " + path);
    return out;
}

void writeFileAtomically(const std::string& path, std::string_view bytes)
{
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        fail(systemError("cannot create a temporary file for", path));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const std::string message = systemError("cannot write", temp);
            ::close(fd);
            ::unlink(temp.c_str());
            fail(message);
        }
        done += static_cast<std::size_t>(n);
    }
    ::fchmod(fd, 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const std::string message = systemError("cannot write", temp);
        ::unlink(temp.c_str());
        fail(message);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string message = systemError("cannot replace", path);
        ::unlink(temp.c_str());
        fail(message);
    }
}

} // namespace kivo::index

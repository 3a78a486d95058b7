#include "index/CacheFile.h"
#include "index/JsonWriter.h"

#include <simdjson.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

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

std::string_view restored(std::string_view raw, std::string& scratch)
{
    if (raw.find('\xEE') == std::string_view::npos)
        return raw;
    scratch = restoreRawBytes(raw);
    return scratch;
}

// The text of a string value as the file meant it: names written with the raw-byte escape get their
// bytes back. A string without a JSON escape (nearly all) is used where it stands in the file instead
// of being copied out by the parser first: copying every path of a large cache costs as much again as
// reading it.
std::string_view text(od::value value, std::string& scratch)
{
    std::string_view raw = value.raw_json_token();
    while (
        !raw.empty() && (raw.back() == ' ' || raw.back() == '\n' || raw.back() == '\r' || raw.back() == '\t'))
        raw.remove_suffix(1);
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        raw = raw.substr(1, raw.size() - 2);
        if (raw.find('\\') == std::string_view::npos)
            return restored(raw, scratch);
    }
    return restored(value.get_string(), scratch);
}

// A member's name, unescaped only when it holds an escape.
std::string_view memberName(od::field& field)
{
    const char* const start = field.key().raw();
    const char* end = start;
    // The parser has checked that every string closes, and the buffer is padded past the end.
    while (*end != '"' && *end != '\\')
        ++end;
    if (*end == '"')
        return { start, std::size_t(end - start) };
    return field.unescaped_key();
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
    std::string scratch;
    const auto id = Uuid::parse(text(value, scratch));
    if (!id)
        fail("an identifier is not a UUID");
    return *id;
}

struct Scratch {
    std::string path, name, key, other;
};

void decodeFile(od::object object, CompactIndex& index, Scratch& scratch)
{
    IndexedFile file;
    std::string_view name, key;
    bool hasID = false, hasPath = false, hasName = false, hasURL = false, hasKey = false;
    for (auto member : object) {
        od::field field = std::move(member);
        const std::string_view fieldName = memberName(field);
        od::value value = field.value();
        if (fieldName == "id") {
            file.id = uuid(value);
            hasID = true;
        } else if (fieldName == "path") {
            file.path = index.internPath(text(value, scratch.path));
            hasPath = true;
        } else if (fieldName == "name") {
            name = text(value, scratch.name);
            hasName = true;
        } else if (fieldName == "bpm") {
            if (!value.is_null()) {
                file.bpm = integer(value);
                file.hasBpm = true;
            }
        } else if (fieldName == "key") {
            if (!value.is_null()) {
                key = text(value, scratch.key);
                hasKey = true;
            }
        } else if (fieldName == "duration") {
            if (!value.is_null()) {
                file.duration = double(value.get_double());
                file.hasDuration = true;
            }
        } else if (fieldName == "url") {
            // The URL is derived from the path; it only has to be there and well formed.
            for (auto member : value.get_object()) {
                od::field url = std::move(member);
                if (memberName(url) == "relative") {
                    (void)text(url.value(), scratch.other);
                    hasURL = true;
                }
            }
        }
    }
    if (!hasID || !hasPath || !hasName || !hasURL)
        fail("a file record lacks one of \"id\", \"path\", \"name\" or \"url\"");
    index.setName(file, name);
    if (hasKey) {
        file.keyAt = index.addText(key);
        file.keySize = std::uint32_t(key.size());
    }
    index.addFile(file);
}

void decodeDirectory(std::string_view key, od::object object, CompactIndex& index, Scratch& scratch)
{
    index.beginFolder(key);
    const std::size_t at = index.folders.size() - 1;
    bool hasPath = false, hasFiles = false, hasSubdirectories = false, hasLastModified = false;
    for (auto member : object) {
        od::field field = std::move(member);
        const std::string_view fieldName = memberName(field);
        od::value value = field.value();
        IndexedFolder& folder = index.folders.edit(at);
        if (fieldName == "path") {
            folder.ownPath = index.internPath(text(value, scratch.other));
            hasPath = true;
        } else if (fieldName == "files") {
            // A second "files" member replaces the first, as it would in a map.
            index.files.resize(folder.firstFile);
            for (auto element : value.get_array())
                decodeFile(element.get_object(), index, scratch);
            hasFiles = true;
        } else if (fieldName == "subdirectories") {
            index.subdirectories.resize(folder.firstSub);
            for (auto element : value.get_array())
                index.subdirectories.push_back(index.internPath(text(element.value(), scratch.other)));
            hasSubdirectories = true;
        } else if (fieldName == "lastModified") {
            folder.lastModified = value.get_double();
            hasLastModified = true;
        } else if (fieldName == "contentModified") {
            folder.hasContentModified = !value.is_null();
            if (folder.hasContentModified)
                folder.contentModified = double(value.get_double());
        } else if (fieldName == "inode") {
            folder.hasInode = !value.is_null();
            if (folder.hasInode)
                folder.inode = std::uint64_t(value.get_uint64());
        }
    }
    if (!hasPath || !hasFiles || !hasSubdirectories || !hasLastModified)
        fail("a folder record lacks one of \"path\", \"files\", \"subdirectories\" or \"lastModified\"");
    index.endFolder();
}

GroupID groupID(od::value value)
{
    return uuid(value).text();
}

using TokenLists = std::unordered_map<std::string, std::vector<std::uint32_t>>;

void decodeSearchIndex(
    od::array array, CompactIndex& index, std::map<GroupID, TokenLists>& out, Scratch& scratch)
{
    auto it = array.begin();
    while (it != array.end()) {
        GroupID group = groupID((*it).value());
        ++it;
        if (it == array.end())
            fail("\"searchIndex\" ends with an identifier and no token map");
        TokenLists& tokens = out[group];
        // A token's paths are looked up together (see StringTable::internAll); they stay where they
        // are in the file (or where simdjson unescaped them) until the document goes, and the few with
        // raw bytes are kept here.
        std::vector<std::string_view> paths;
        std::deque<std::string> restoredPaths;
        for (auto member : (*it).get_object()) {
            od::field field = std::move(member);
            auto& ids = tokens[std::string(restored(memberName(field), scratch.other))];
            paths.clear();
            restoredPaths.clear();
            for (auto element : field.value().get_array()) {
                const std::string_view path = text(element.value(), scratch.path);
                paths.push_back(path.data() == scratch.path.data() ? restoredPaths.emplace_back(path) : path);
            }
            index.internPaths(paths, ids);
        }
        ++it;
    }
}

void decodeGroupRoots(od::array array, GroupRoots& out, Scratch& scratch)
{
    auto it = array.begin();
    while (it != array.end()) {
        GroupID group = groupID((*it).value());
        ++it;
        if (it == array.end())
            fail("\"groupRoots\" ends with an identifier and no root list");
        std::vector<std::string> roots;
        for (auto element : (*it).get_array())
            roots.emplace_back(text(element.value(), scratch.other));
        out[group] = std::move(roots);
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
    CompactIndex& index = data.index;
    // Sized from the file: a file record takes some 350 bytes of text, most of them its path twice.
    index.strings.reserve(json.size() / 300, json.size() / 4);
    index.files.reserve(json.size() / 400);
    std::map<GroupID, TokenLists> names;
    Scratch scratch;
    bool hasDirectories = false, hasSearch = false, hasRoots = false, hasDate = false, hasVersion = false;
    try {
        od::parser parser;
        od::document document = parser.iterate(json);
        for (auto member : document.get_object()) {
            od::field field = std::move(member);
            const std::string_view key = memberName(field);
            od::value value = field.value();
            if (key == "directoryIndex") {
                for (auto member : value.get_object()) {
                    od::field entry = std::move(member);
                    std::string folderKey(restored(memberName(entry), scratch.other));
                    decodeDirectory(folderKey, entry.value().get_object(), index, scratch);
                }
                hasDirectories = true;
            } else if (key == "searchIndex") {
                decodeSearchIndex(value.get_array(), index, names, scratch);
                hasSearch = true;
            } else if (key == "groupRoots") {
                decodeGroupRoots(value.get_array(), index.roots, scratch);
                hasRoots = true;
            } else if (key == "lastUpdate") {
                data.lastUpdate = value.get_double();
                hasDate = true;
            } else if (key == "version") {
                data.version = text(value, scratch.other);
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
    index.indexFiles();
    for (auto& [group, tokens] : names) {
        TokenEntries entries;
        entries.reserve(tokens.size());
        for (auto& [token, ids] : tokens)
            entries.emplace_back(token, std::move(ids));
        index.names.emplace(group, TokenPostings::build(std::move(entries)));
    }
    index.deriveKeywords();
    return data;
}

void encodeFile(JsonWriter& out, const CompactIndex& index, const IndexedFile& file, std::string& url)
{
    const std::string_view path = index.path(file.path);
    out.beginObject();
    out.key("id");
    out.value(file.id.text());
    out.key("path");
    out.value(path);
    out.key("name");
    out.value(index.nameOf(file));
    if (file.hasBpm) {
        out.key("bpm");
        out.value(file.bpm);
    }
    if (file.keyAt != kNoID) {
        out.key("key");
        out.value(index.text.view().substr(file.keyAt, file.keySize));
    }
    if (file.hasDuration) {
        out.key("duration");
        out.value(file.duration);
    }
    out.key("url");
    out.beginObject();
    out.key("relative");
    url = fileURL(path);
    out.value(url);
    out.endObject();
    out.endObject();
}

void encodeDirectory(
    JsonWriter& out, const CompactIndex& index, const IndexedFolder& folder, std::string& url)
{
    out.beginObject();
    out.key("path");
    out.value(index.path(folder.ownPath));
    out.key("files");
    out.beginArray();
    for (const auto& file : index.filesOf(folder)) {
        encodeFile(out, index, file, url);
        out.flush();
    }
    out.endArray();
    out.key("subdirectories");
    out.beginArray();
    for (const auto sub : index.subdirectoriesOf(folder))
        out.value(index.path(sub));
    out.endArray();
    out.key("lastModified");
    out.value(folder.lastModified);
    if (folder.hasContentModified) {
        out.key("contentModified");
        out.value(folder.contentModified);
    }
    if (folder.hasInode) {
        out.key("inode");
        out.value(folder.inode);
    }
    out.endObject();
}

void encode(JsonWriter& out, const CompactIndex& index, double lastUpdate, std::string_view version)
{
    std::string url;
    out.beginObject();
    out.key("directoryIndex");
    out.beginObject();
    for (std::size_t f = 0; f < index.folders.size(); ++f) {
        if (!index.isCurrent(f))
            continue;
        out.key(index.path(index.folders[f].path));
        encodeDirectory(out, index, index.folders[f], url);
    }
    out.endObject();
    out.key("searchIndex");
    out.beginArray();
    for (const auto& [group, tokens] : index.names) {
        out.value(group);
        out.beginObject();
        tokens.forEach([&](std::string_view token, std::span<const std::uint32_t> ids) {
            out.key(token);
            out.beginArray();
            for (const auto id : ids)
                out.value(index.path(id));
            out.endArray();
            out.flush();
        });
        out.endObject();
    }
    out.endArray();
    out.key("groupRoots");
    out.beginArray();
    for (const auto& [group, list] : index.roots) {
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
    out.finish();
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

void encodeCacheData(
    const CompactIndex& index, double lastUpdate, const std::function<void(std::string_view)>& sink)
{
    JsonWriter out(sink, 1 << 20);
    encode(out, index, lastUpdate, kCacheVersion);
}

std::string encodeCacheData(const CompactIndex& index, double lastUpdate)
{
    JsonWriter out(index.folders.size() * 1024);
    encode(out, index, lastUpdate, kCacheVersion);
    return std::move(out.text());
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
    writeFileAtomically(path, [&](const std::function<void(std::string_view)>& write) { write(bytes); });
}

void writeFileAtomically(
    const std::string& path, const std::function<void(const std::function<void(std::string_view)>&)>& produce)
{
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        fail(systemError("cannot create a temporary file for", path));
    // Whatever goes wrong before the rename, the old file stays and the temporary one goes.
    struct Temporary {
        int fd;
        const std::string& path;
        bool done = false;
        ~Temporary()
        {
            if (done)
                return;
            if (fd >= 0)
                ::close(fd);
            ::unlink(path.c_str());
        }
    } temporary { fd, temp };
    produce([&](std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                fail(systemError("cannot write", temp));
            done += static_cast<std::size_t>(n);
        }
    });
    ::fchmod(fd, 0644);
    const bool synced = ::fsync(fd) == 0;
    temporary.fd = -1;
    if (!synced | (::close(fd) != 0))
        fail(systemError("cannot write", temp));
    if (::rename(temp.c_str(), path.c_str()) != 0)
        fail(systemError("cannot replace", path));
    temporary.done = true;
}

} // namespace kivo::index

#include "index/IndexRecords.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

namespace kivo::index {

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isAsciiAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

void addToken(
    std::vector<std::string>& out, std::string& piece, std::size_t characters, std::size_t minLength)
{
    if (!piece.empty() && characters >= minLength && std::find(out.begin(), out.end(), piece) == out.end())
        out.push_back(piece);
    piece.clear();
}

} // namespace

std::string Uuid::text() const
{
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        out += kHexUpper[bytes[i] >> 4];
        out += kHexUpper[bytes[i] & 15];
    }
    return out;
}

std::optional<Uuid> Uuid::parse(std::string_view text)
{
    if (text.size() != 36)
        return std::nullopt;
    Uuid out;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return std::nullopt;
            ++i;
            continue;
        }
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.bytes[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string FileInfo::url() const
{
    return fileURL(path);
}

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string toNFC(std::string_view text)
{
    if (isAscii(text))
        return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status))
        return std::string(text);
    const icu::StringPiece piece(text.data(), std::int32_t(text.size()));
    if (nfc->isNormalizedUTF8(piece, status) && U_SUCCESS(status))
        return std::string(text);
    status = U_ZERO_ERROR;
    std::string out;
    icu::StringByteSink<std::string> sink(&out, std::int32_t(text.size()));
    nfc->normalizeUTF8(0, piece, sink, nullptr, status);
    return U_SUCCESS(status) ? out : std::string(text);
}

std::vector<std::string> tokenize(std::string_view rawText, std::size_t minLength)
{
    // Names copied from macOS drives arrive decomposed ("E" and a combining accent): composed first,
    // so that they split and match as the same word typed on a keyboard does.
    std::string composed;
    std::string_view text = rawText;
    if (!isAscii(rawText)) {
        composed = toNFC(rawText);
        text = composed;
    }
    std::vector<std::string> out;
    std::string piece;
    std::size_t characters = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            ++i;
            if (isAsciiAlnum(c)) {
                piece += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
                ++characters;
            } else {
                addToken(out, piece, characters, minLength);
                characters = 0;
            }
            continue;
        }
        UChar32 cp;
        U8_NEXT(bytes, i, length, cp);
        if (cp >= 0 && u_isalnum(cp)) {
            const UChar32 lower = u_tolower(cp);
            char buffer[4];
            std::int32_t n = 0;
            U8_APPEND_UNSAFE(buffer, n, lower);
            piece.append(buffer, static_cast<std::size_t>(n));
            ++characters;
        } else {
            addToken(out, piece, characters, minLength);
            characters = 0;
        }
    }
    addToken(out, piece, characters, minLength);
    return out;
}

std::string lowerCase(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            ++i;
            continue;
        }
        const std::int32_t start = i;
        UChar32 cp;
        U8_NEXT(bytes, i, length, cp);
        if (cp < 0) {
            out.append(text.data() + start, std::size_t(i - start));
            continue;
        }
        char buffer[4];
        std::int32_t n = 0;
        U8_APPEND_UNSAFE(buffer, n, u_tolower(cp));
        out.append(buffer, std::size_t(n));
    }
    return out;
}

std::string_view parentPath(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::vector<std::string> keywordsForPath(std::string_view filePath, std::string_view rootPath)
{
    // A root given as "/Samples/Drums/" is the folder "/Samples/Drums": its parent is "/Samples".
    while (rootPath.size() > 1 && rootPath.back() == '/')
        rootPath.remove_suffix(1);
    const std::string_view rootParent = parentPath(rootPath);
    std::string_view folder = parentPath(filePath);
    if (!rootParent.empty() && rootParent != "/" && folder.starts_with(rootParent))
        folder.remove_prefix(rootParent.size());
    return tokenize(folder, 1);
}

bool isUnderRoot(std::string_view path, std::string_view root)
{
    if (path == root)
        return true;
    if (!path.starts_with(root))
        return false;
    if (!root.empty() && root.back() == '/')
        return true;
    return path.size() > root.size() && path[root.size()] == '/';
}

Uuid stableFileID(std::string_view path)
{
    Uuid id;
    const std::uint64_t hash = std::hash<std::string_view>()(path);
    for (int i = 0; i < 8; ++i)
        id.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hash >> (56 - 8 * i));
    for (std::size_t i = 0; i < 8 && i < path.size(); ++i)
        id.bytes[8 + i] = static_cast<std::uint8_t>(path[i]);
    return id;
}

std::string fileURL(std::string_view path)
{
    // The characters a URL path may carry as they are; everything else, every non-ASCII byte
    // included, is percent-encoded.
    static constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@/";
    std::string out = "file://";
    out.reserve(out.size() + path.size() + 16);
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (isAsciiAlnum(c) || (c < 0x80 && kAllowed.find(ch) != std::string_view::npos)) {
            out += ch;
        } else {
            out += '%';
            out += kHexUpper[c >> 4];
            out += kHexUpper[c & 15];
        }
    }
    return out;
}

std::optional<std::string> pathFromFileURL(std::string_view url)
{
    if (!url.starts_with("file://"))
        return std::nullopt;
    url.remove_prefix(7);
    if (url.starts_with("localhost/"))
        url.remove_prefix(9);
    std::string out;
    out.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] != '%') {
            out += url[i];
            continue;
        }
        if (i + 2 >= url.size() + 0 || hexValue(url[i + 1]) < 0 || hexValue(url[i + 2]) < 0)
            return std::nullopt;
        out += static_cast<char>(hexValue(url[i + 1]) * 16 + hexValue(url[i + 2]));
        i += 2;
    }
    if (out.empty() || out.front() != '/')
        return std::nullopt;
    return out;
}

bool isInTrash(std::string_view path, std::string_view trashFolder)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        const auto component = path.substr(start, end - start);
        if (component == ".Trash" || component == ".Trashes")
            return true;
        start = end + 1;
    }
    return !trashFolder.empty() && isUnderRoot(path, trashFolder);
}

std::string userTrashFolder()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/Trash";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/share/Trash";
    return {};
}

bool isInTrash(std::string_view path)
{
    return isInTrash(path, userTrashFolder());
}

double nowReferenceDate()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - 978307200.0;
}

} // namespace kivo::index

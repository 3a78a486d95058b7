#include "music/TextScan.h"

#include <unicode/uchar.h>

#include <limits>

namespace kivo::music::text {

char32_t decode(std::string_view s, std::size_t& pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        c = b0 & 0x1F;
        minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        c = b0 & 0x0F;
        minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        c = b0 & 0x07;
        minimum = 0x10000;
    } else {
        ++pos;
        return 0xFFFD;
    }
    if (pos + length > s.size()) {
        ++pos;
        return 0xFFFD;
    }
    for (int i = 1; i < length; ++i) {
        unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += length;
    return c;
}

bool isAlphanumeric(char32_t c)
{
    if (c < 0x80)
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool isDigit(char32_t c)
{
    if (c < 0x80)
        return c >= '0' && c <= '9';
    return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER;
}

bool isWhiteSpace(char32_t c)
{
    if (c < 0x80)
        return c == ' ' || (c >= '\t' && c <= '\r');
    return u_isUWhiteSpace(static_cast<UChar32>(c));
}

bool extendsCharacter(char32_t c)
{
    if (c < 0x300)
        return false;
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_GRAPHEME_EXTEND);
}

std::size_t characterCount(std::string_view s)
{
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < s.size();) {
        char32_t c = decode(s, pos);
        if (count == 0 || !extendsCharacter(c))
            ++count;
    }
    return count;
}

std::string_view trimWhiteSpace(std::string_view s)
{
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t next = begin;
        if (!isWhiteSpace(decode(s, next)))
            break;
        begin = next;
    }
    std::size_t end = s.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && end - start < 4)
            --start;
        std::size_t probe = start;
        char32_t c = decode(s, probe);
        if (probe != end || !isWhiteSpace(c))
            break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

std::string_view removePathExtension(std::string_view name)
{
    std::size_t slash = name.rfind('/');
    std::size_t componentStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < componentStart || dot == componentStart)
        return name;
    return name.substr(0, dot);
}

void splitTokens(std::string_view s, std::u32string_view extra, std::vector<std::string_view>& out)
{
    out.clear();
    std::size_t tokenStart = 0;
    bool inToken = false;
    for (std::size_t pos = 0; pos < s.size();) {
        std::size_t start = pos;
        char32_t c = decode(s, pos);
        bool tokenChar = isAlphanumeric(c) || extra.find(c) != std::u32string_view::npos;
        if (tokenChar && !inToken) {
            tokenStart = start;
            inToken = true;
        } else if (!tokenChar && inToken) {
            out.push_back(s.substr(tokenStart, start - tokenStart));
            inToken = false;
        }
    }
    if (inToken)
        out.push_back(s.substr(tokenStart));
}

std::optional<std::int64_t> parseInteger(std::string_view s, bool allowSign)
{
    bool negative = false;
    std::size_t i = 0;
    if (allowSign && !s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        i = 1;
    }
    if (i == s.size())
        return std::nullopt;
    // Accumulate as a negative number so the most negative value still fits.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; i < s.size(); ++i) {
        char ch = s[i];
        if (ch < '0' || ch > '9')
            return std::nullopt;
        int digit = ch - '0';
        if (value < (kMin + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == kMin)
            return std::nullopt;
        return -value;
    }
    return value;
}

bool equalsAsciiLowercase(std::string_view s, std::string_view lowerWord)
{
    if (s.size() != lowerWord.size())
        return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char ch = s[i];
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
        if (ch != lowerWord[i])
            return false;
    }
    return true;
}

} // namespace kivo::music::text

#pragma once

// Small UTF-8 helpers shared by the name parsers. They decode code points on the fly
// and classify them without allocating, because they run for every file a scan visits.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kivo::music::text {

// Decodes the code point at `pos` and advances `pos`. Malformed bytes decode as
// U+FFFD one byte at a time, so a damaged name still splits sensibly.
char32_t decode(std::string_view s, std::size_t& pos);

// Letters, marks and numbers of any script.
bool isAlphanumeric(char32_t c);
// Decimal digits of any script.
bool isDigit(char32_t c);
bool isWhiteSpace(char32_t c);
// A code point that joins the previous one into the same visible character.
bool extendsCharacter(char32_t c);

// Number of visible characters (a base code point plus the marks that extend it).
std::size_t characterCount(std::string_view s);

std::string_view trimWhiteSpace(std::string_view s);

// The name without its extension: the last "." of the last path component and what
// follows, unless that dot begins the component (a hidden name such as ".loop").
std::string_view removePathExtension(std::string_view name);

// Splits at every code point that is neither alphanumeric nor in `extra` (a list of
// extra token code points); drops empty tokens.
void splitTokens(std::string_view s, std::u32string_view extra, std::vector<std::string_view>& out);

// A decimal integer of ASCII digits with an optional sign; none when it does not fit
// in 64 bits or holds anything else.
std::optional<std::int64_t> parseInteger(std::string_view s, bool allowSign);

bool equalsAsciiLowercase(std::string_view s, std::string_view lowerWord);

} // namespace kivo::music::text

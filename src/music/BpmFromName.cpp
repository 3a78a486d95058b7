#include "music/BpmFromName.h"

#include "music/TextScan.h"

#include <vector>

namespace kivo::music {

namespace {

// The separators allowed between the digits and "bpm": "_", "-", "." and white space
// of any script (the Unicode White_Space set, as a regular expression's \s).
bool isSeparator(char32_t c)
{
    return c == '_' || c == '-' || c == '.' || text::isWhiteSpace(c);
}

bool isLetter(char ch, char upper)
{
    return ch == upper || ch == upper - 'A' + 'a';
}

// The first digit run followed by optional separators and "bpm" in any case; the
// digits as written (any script's digits, as a regular expression's \d would take).
std::optional<std::string_view> bpmPatternDigits(std::string_view name)
{
    std::size_t pos = 0;
    while (pos < name.size()) {
        std::size_t runStart = pos;
        std::size_t next = pos;
        if (!text::isDigit(text::decode(name, next))) {
            pos = next;
            continue;
        }
        std::size_t runEnd = next;
        while (runEnd < name.size()) {
            std::size_t probe = runEnd;
            if (!text::isDigit(text::decode(name, probe)))
                break;
            runEnd = probe;
        }
        std::size_t cursor = runEnd;
        while (cursor < name.size()) {
            std::size_t probe = cursor;
            if (!isSeparator(text::decode(name, probe)))
                break;
            cursor = probe;
        }
        if (cursor + 3 <= name.size() && isLetter(name[cursor], 'B') && isLetter(name[cursor + 1], 'P')
            && isLetter(name[cursor + 2], 'M'))
            return name.substr(runStart, runEnd - runStart);
        // A later start inside the same run meets the same text after it, so skip the run.
        pos = runEnd;
    }
    return std::nullopt;
}

bool allDigits(std::string_view token)
{
    for (std::size_t pos = 0; pos < token.size();) {
        if (!text::isDigit(text::decode(token, pos)))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::int64_t> bpmFromNamePattern(std::string_view name)
{
    if (auto digits = bpmPatternDigits(name))
        return text::parseInteger(*digits, false);
    return std::nullopt;
}

std::optional<std::int64_t> bpmFromName(std::string_view name)
{
    if (auto digits = bpmPatternDigits(name)) {
        if (auto value = text::parseInteger(*digits, false))
            return value;
    }

    std::vector<std::string_view> tokens;
    tokens.reserve(16);
    text::splitTokens(text::removePathExtension(name), {}, tokens);
    std::optional<std::int64_t> found;
    for (std::string_view token : tokens) {
        if (token[0] == '0' || !allDigits(token))
            continue;
        auto value = text::parseInteger(token, false);
        if (!value || *value < 60 || *value > 180)
            continue;
        if (found && *found != *value)
            return std::nullopt;
        found = value;
    }
    return found;
}

} // namespace kivo::music

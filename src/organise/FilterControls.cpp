#include "organise/FilterControls.h"

#include "music/MusicalKey.h"

#include <charconv>

namespace kivo::organise {

std::string cleanBPMText(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c < '0' || c > '9')
            continue;
        out.push_back(c);
        if (out.size() == 3)
            break;
    }
    return out;
}

std::optional<std::int64_t> bpmBound(std::string_view cleanedText)
{
    std::int64_t value = 0;
    const auto* end = cleanedText.data() + cleanedText.size();
    const auto [ptr, ec] = std::from_chars(cleanedText.data(), end, value);
    if (cleanedText.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

void chooseKeyRoot(SearchFilters& filters, int pitchClass)
{
    if (filters.key && filters.key->pitchClass == pitchClass) {
        filters.key.reset();
        return;
    }
    if (!filters.key)
        filters.key = KeyFilter {};
    filters.key->pitchClass = pitchClass;
}

void pressQuality(SearchFilters& filters, bool minor)
{
    if (!filters.key)
        return;
    KeyFilter& key = *filters.key;
    if (key.isMinor == minor) {
        key.isMinor.reset();
        key.includeRelative = false;
    } else {
        key.isMinor = minor;
    }
}

bool relativeUsable(const SearchFilters& filters)
{
    return filters.key && filters.key->isMinor.has_value();
}

void toggleRelative(SearchFilters& filters)
{
    if (relativeUsable(filters))
        filters.key->includeRelative = !filters.key->includeRelative;
}

std::string relativeHelp(const SearchFilters& filters)
{
    if (!relativeUsable(filters))
        return "Include the relative key";
    return *filters.key->isMinor ? "Include relative major" : "Include relative minor";
}

bool shuffleUsable(std::string_view query, const SearchFilters& filters)
{
    return query.find_first_not_of(" \t\r\n\f\v") != std::string_view::npos || filters.hasFilter();
}

std::string shuffleHelp(std::string_view query, const SearchFilters& filters)
{
    if (!shuffleUsable(query, filters))
        return kShuffleUnusableHelp;
    return filters.shuffleSeed ? kShuffleOnHelp : kShuffleOffHelp;
}

void pressShuffle(SearchFilters& filters, std::uint64_t freshSeed)
{
    if (filters.shuffleSeed)
        filters.shuffleSeed.reset();
    else
        filters.shuffleSeed = freshSeed;
}

void toggleTag(SearchFilters& filters, const TagId& id)
{
    if (!filters.tags.erase(id))
        filters.tags.insert(id);
}

std::string keySummary(const KeyFilter& key, music::KeySpelling spelling)
{
    std::string text = music::MusicalKey::rootName(key.pitchClass, key.isMinor, spelling);
    if (key.isMinor)
        text += *key.isMinor ? "min" : "maj";
    if (key.includeRelative)
        if (const auto relative = music::MusicalKey::relativeKeyLabel(key.pitchClass, key.isMinor, spelling))
            text += " \xF0\x9F\x94\x97 " + *relative;
    return text;
}

} // namespace kivo::organise

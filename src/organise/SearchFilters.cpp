#include "organise/SearchFilters.h"

#include "music/BpmFromName.h"
#include "music/MusicalKey.h"
#include "organise/MetadataInheritance.h"

#include <algorithm>

namespace kivo::organise {

bool KeyFilter::matches(int itemPitchClass, bool itemIsMinor) const
{
    if (itemPitchClass == pitchClass) {
        if (!isMinor || *isMinor == itemIsMinor)
            return true;
    }
    if (!includeRelative || !isMinor || itemIsMinor == *isMinor)
        return false;
    const int relative = (pitchClass + (*isMinor ? 3 : 9)) % 12;
    return itemPitchClass == relative;
}

bool SearchFilters::bpmAccepts(std::optional<std::int64_t> bpm) const
{
    if (!minBPM && !maxBPM)
        return true;
    if (!bpm)
        return false;
    if (minBPM && !maxBPM)
        return *bpm == *minBPM;
    if (!minBPM)
        return *bpm <= *maxBPM;
    return *minBPM <= *bpm && *bpm <= *maxBPM;
}

namespace {

bool hasEveryTag(const TagIdSet& wanted, const TagIdSet* tags)
{
    if (wanted.empty())
        return true;
    if (!tags || tags->size() < wanted.size())
        return false;
    return std::includes(tags->begin(), tags->end(), wanted.begin(), wanted.end(), TagIdLess {});
}

bool keyPasses(const KeyFilter& filter, const std::optional<std::string>& keyText)
{
    if (!keyText)
        return false;
    const auto key = music::MusicalKey::parse(*keyText);
    return key && filter.matches(key->pitchClass, key->isMinor);
}

} // namespace

bool passesValues(const SearchFilters& filters, const TagIdSet* tags, std::optional<std::int64_t> bpm,
    const std::optional<std::string>& keyText)
{
    return hasEveryTag(filters.tags, tags) && filters.bpmAccepts(bpm)
        && (!filters.key || keyPasses(*filters.key, keyText));
}

// Each value is resolved only when its test is reached: most items fail the first test they meet.
template <class OwnBPM, class OwnKey>
static bool passes(std::string_view path, const SearchFilters& f, MetadataInheritance& overrides,
    OwnBPM ownBPM, OwnKey ownKey)
{
    if (!f.tags.empty() && !hasEveryTag(f.tags, &overrides.effectiveTags(path)))
        return false;
    if ((f.minBPM || f.maxBPM) && !f.bpmAccepts(overrides.effectiveBPM(path, ownBPM())))
        return false;
    return !f.key || keyPasses(*f.key, overrides.effectiveKey(path, ownKey()));
}

bool passesFile(const index::FileInfo& file, const SearchFilters& filters, MetadataInheritance& overrides)
{
    return passes(
        file.path, filters, overrides, [&] { return file.bpm; }, [&]() -> const auto& { return file.key; });
}

bool passesFile(std::string_view path, std::optional<std::int64_t> ownBPM,
    const std::optional<std::string>& ownKey, const SearchFilters& filters, MetadataInheritance& overrides)
{
    return passes(
        path, filters, overrides, [&] { return ownBPM; }, [&]() -> const auto& { return ownKey; });
}

bool passesFolder(std::string_view path, std::string_view name, const SearchFilters& filters,
    MetadataInheritance& overrides)
{
    return passes(
        path, filters, overrides, [&] { return folderOwnBPM(name); }, [&] { return folderOwnKey(name); });
}

std::optional<std::int64_t> folderOwnBPM(std::string_view name)
{
    return music::bpmFromName(name);
}

std::optional<std::string> folderOwnKey(std::string_view name)
{
    if (auto key = music::MusicalKey::fromName(name, music::LoneAccidental::accept))
        return key->keyText();
    return std::nullopt;
}

} // namespace kivo::organise

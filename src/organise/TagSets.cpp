#include "organise/TagSets.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

namespace kivo::organise {

namespace {

const TagIdSet* find(const TagMap& map, std::string_view path)
{
    const auto it = map.find(path);
    return it == map.end() ? nullptr : &it->second;
}

// Adds or removes one id, keeping the no-empty-set invariant.
void addTo(TagMap& map, const std::string& path, const TagId& id)
{
    map[path].insert(id);
}

void removeFrom(TagMap& map, const std::string& path, const TagId& id)
{
    const auto it = map.find(path);
    if (it == map.end())
        return;
    it->second.erase(id);
    if (it->second.empty())
        map.erase(it);
}

// Byte length of the first `count` characters of UTF-8 text.
std::size_t prefixBytes(std::string_view text, std::size_t count)
{
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size() && seen < count; ++seen) {
        ++i;
        while (i < text.size() && (std::uint8_t(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return i;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::string_view parentFolder(std::string_view path)
{
    return index::parentPath(path);
}

TagIdSet effectiveTags(const TagMaps& maps, std::string_view path)
{
    if (maps.assignments.empty())
        return {};
    std::vector<std::string_view> chain;
    for (std::string_view level = path; level.size() >= 2;) {
        chain.push_back(level);
        const std::string_view up = parentFolder(level);
        if (up == level)
            break;
        level = up;
    }
    TagIdSet out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (const TagIdSet* given = find(maps.assignments, *it))
            out.insert(given->begin(), given->end());
        if (const TagIdSet* taken = find(maps.exclusions, *it))
            for (const TagId& id : *taken)
                out.erase(id);
    }
    return out;
}

TagIdSet inheritedTags(const TagMaps& maps, std::string_view path)
{
    const std::string_view parent = parentFolder(path);
    if (parent.size() < 2 || parent == path)
        return {};
    return effectiveTags(maps, parent);
}

void applySetTag(TagMaps& maps, const TagId& id, TagChoice choice, const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        const bool inherited = inheritedTags(maps, path).contains(id);
        if (choice == TagChoice::on) {
            removeFrom(maps.exclusions, path, id);
            if (!inherited)
                addTo(maps.assignments, path, id);
        } else {
            removeFrom(maps.assignments, path, id);
            if (inherited)
                addTo(maps.exclusions, path, id);
        }
    }
}

void applyClearTags(TagMaps& maps, const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        maps.assignments.erase(path);
        TagIdSet inherited = inheritedTags(maps, path);
        if (inherited.empty())
            maps.exclusions.erase(path);
        else
            maps.exclusions[path] = std::move(inherited);
    }
}

bool removeTagEverywhere(TagMaps& maps, const TagId& id)
{
    bool changed = false;
    for (TagMap* map : { &maps.assignments, &maps.exclusions }) {
        for (auto it = map->begin(); it != map->end();) {
            changed = it->second.erase(id) > 0 || changed;
            it = it->second.empty() ? map->erase(it) : std::next(it);
        }
    }
    return changed;
}

bool remapTagPaths(TagMaps& maps, std::string_view from, std::string_view to)
{
    const auto join = [](TagIdSet& kept, TagIdSet&& moved) { kept.merge(moved); };
    const bool a = index::remapKeys(maps.assignments, from, to, join);
    const bool e = index::remapKeys(maps.exclusions, from, to, join);
    return a || e;
}

std::string cleanTagName(std::string_view name)
{
    const std::string_view t = trimmed(name);
    return std::string(t.substr(0, prefixBytes(t, kMaxTagNameLength)));
}

std::string uniqueTagName(const std::string& candidate, const std::vector<std::string>& others)
{
    if (candidate.empty())
        return candidate;
    std::unordered_set<std::string> taken;
    for (const auto& name : others)
        taken.insert(index::lowerCase(name));
    const auto isFree = [&](const std::string& name) { return !taken.contains(index::lowerCase(name)); };
    if (isFree(candidate))
        return candidate;

    std::string base = candidate;
    long k = 2;
    // A trailing " <digits>" counts on from that number.
    std::size_t digits = candidate.size();
    while (digits > 0 && candidate[digits - 1] >= '0' && candidate[digits - 1] <= '9')
        --digits;
    if (digits < candidate.size() && digits > 0 && candidate[digits - 1] == ' ') {
        const std::string_view before = std::string_view(candidate).substr(0, digits - 1);
        long n = 0;
        const char* first = candidate.data() + digits;
        const char* last = candidate.data() + candidate.size();
        const auto parsed = std::from_chars(first, last, n);
        if (!trimmed(before).empty() && parsed.ec == std::errc() && parsed.ptr == last) {
            if (n + 1 > 999)
                return candidate;
            base = std::string(before);
            k = n + 1;
        }
    }
    for (; k <= 999; ++k) {
        const std::string suffix = " " + std::to_string(k);
        const std::size_t room = kMaxTagNameLength - suffix.size();
        std::string name = base.substr(0, prefixBytes(base, room)) + suffix;
        if (isFree(name))
            return name;
    }
    return candidate;
}

} // namespace kivo::organise

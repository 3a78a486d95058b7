#include "index/MetadataOverrides.h"

namespace kivo::index {

namespace {

template <class Value>
void setOverride(PathKeyedMap<Value>& overrides, PathKeyedSet& cleared, const std::optional<Value>& value,
    const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        if (value) {
            overrides[path] = *value;
            cleared.erase(path);
        } else {
            overrides.erase(path);
        }
    }
}

template <class Value>
void clearOverride(
    PathKeyedMap<Value>& overrides, PathKeyedSet& cleared, const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        overrides.erase(path);
        cleared.insert(path);
    }
}

template <class Value>
void resetOverride(
    PathKeyedMap<Value>& overrides, PathKeyedSet& cleared, const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        overrides.erase(path);
        cleared.erase(path);
    }
}

} // namespace

void MetadataOverrides::setBPM(std::optional<std::int64_t> value, const std::vector<std::string>& paths)
{
    setOverride(bpmOverrides, clearedBPMPaths, value, paths);
}

void MetadataOverrides::setKey(const std::optional<std::string>& key, const std::vector<std::string>& paths)
{
    setOverride(keyOverrides, clearedKeyPaths, key, paths);
}

void MetadataOverrides::clearBPM(const std::vector<std::string>& paths)
{
    clearOverride(bpmOverrides, clearedBPMPaths, paths);
}

void MetadataOverrides::clearKey(const std::vector<std::string>& paths)
{
    clearOverride(keyOverrides, clearedKeyPaths, paths);
}

void MetadataOverrides::resetBPM(const std::vector<std::string>& paths)
{
    resetOverride(bpmOverrides, clearedBPMPaths, paths);
}

void MetadataOverrides::resetKey(const std::vector<std::string>& paths)
{
    resetOverride(keyOverrides, clearedKeyPaths, paths);
}

bool MetadataOverrides::remapPaths(const std::string& from, const std::string& to)
{
    const auto replace = [](auto& kept, auto&& moved) { kept = std::move(moved); };
    bool changed = remapKeys(bpmOverrides, from, to, replace);
    changed = remapKeys(keyOverrides, from, to, replace) || changed;
    changed = remapKeys(clearedBPMPaths, from, to) || changed;
    changed = remapKeys(clearedKeyPaths, from, to) || changed;
    // An override that moved onto a cleared path (or the reverse) keeps the two apart again: the
    // override, being a value the user gave, wins.
    for (const auto& [path, value] : bpmOverrides)
        clearedBPMPaths.erase(path);
    for (const auto& [path, value] : keyOverrides)
        clearedKeyPaths.erase(path);
    return changed;
}

} // namespace kivo::index

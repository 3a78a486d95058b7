#pragma once

// Maps and sets keyed by path that can be asked with a path whose hash was worked out once: a pass
// over a large tree looks the same path up in several maps, and hashing it again for each would
// cost more than the lookups themselves. Pure, no Qt.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kivo::index {

// A path with its hash, for repeated lookups.
struct HashedPath {
    std::string_view text;
    std::size_t hash;

    explicit HashedPath(std::string_view path)
        : text(path)
        , hash(std::hash<std::string_view> {}(path))
    {
    }
};

// Deliberately not noexcept: the standard maps then keep each key's hash beside it, and a lookup
// never hashes a stored path again while walking a bucket.
struct PathHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view path) const { return std::hash<std::string_view> {}(path); }
    std::size_t operator()(const std::string& path) const { return (*this)(std::string_view(path)); }
    std::size_t operator()(const char* path) const { return (*this)(std::string_view(path)); }
    std::size_t operator()(const HashedPath& path) const { return path.hash; }
};

struct PathEqual {
    using is_transparent = void;
    static std::string_view view(std::string_view path) { return path; }
    static std::string_view view(const std::string& path) { return path; }
    static std::string_view view(const char* path) { return path; }
    static std::string_view view(const HashedPath& path) { return path.text; }
    template <class A, class B> bool operator()(const A& a, const B& b) const noexcept
    {
        return view(a) == view(b);
    }
};

template <class Value> using PathKeyedMap = std::unordered_map<std::string, Value, PathHash, PathEqual>;
using PathKeyedSet = std::unordered_set<std::string, PathHash, PathEqual>;

// True when `path` is `from` or lies below it; then `rewritten` is the same path under `to`.
bool remapPath(std::string_view path, std::string_view from, std::string_view to, std::string& rewritten);

// Rewrites the keys under `from` to lie under `to` (other keys stay). When a rewritten key meets one
// already there, `merge(kept, moved)` decides the value. True when any key changed.
template <class Map, class Merge>
bool remapKeys(Map& map, std::string_view from, std::string_view to, Merge merge)
{
    if (from == to)
        return false;
    Map out;
    out.reserve(map.size());
    bool changed = false;
    std::string rewritten;
    // Keys that stay go in first, so a moved value meeting one of them is merged the same way
    // whatever the map's iteration order.
    std::vector<std::pair<std::string, typename Map::mapped_type>> moved;
    for (auto& [path, value] : map) {
        if (remapPath(path, from, to, rewritten)) {
            moved.emplace_back(rewritten, std::move(value));
            changed = true;
        } else {
            out.emplace(path, std::move(value));
        }
    }
    if (!changed)
        return false;
    for (auto& [path, value] : moved) {
        auto [it, inserted] = out.try_emplace(std::move(path), value);
        if (!inserted)
            merge(it->second, std::move(value));
    }
    map = std::move(out);
    return true;
}

bool remapKeys(PathKeyedSet& set, std::string_view from, std::string_view to);

} // namespace kivo::index

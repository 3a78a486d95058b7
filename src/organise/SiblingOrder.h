#pragma once

// The order of one folder's children in the browser tree: the BPM each file sorts by (the user's
// overrides first, then the file's own, then the nearest folder override above it) and the stable
// sibling sort over the browser's order. Pure; the overrides and options are handed in.

#include "organise/BrowserFileOrder.h"
#include "organise/LightweightNode.h"

#include <functional>
#include <unordered_map>

namespace kivo::organise {

// What the user has said about tempo, read through the override store's current values. Either
// function may be empty: no overrides, nothing cleared.
struct BPMOverrides {
    std::function<std::optional<std::int64_t>(const std::string& path)> overrideFor;
    std::function<bool(const std::string& path)> isCleared;
    // The tempo heard from a file's audio, used where nothing else gives one.
    std::function<std::optional<std::int64_t>(const std::string& path)> heard;
};

using EffectiveBPMs = std::unordered_map<NodeId, std::int64_t, NodeIdHash>;

// The BPM a file sorts by: its override, none when cleared, its own BPM, else the override of the
// nearest folder above it, else the tempo heard from it.
std::optional<std::int64_t> effectiveSortBPM(
    const std::string& path, std::optional<std::int64_t> own, const BPMOverrides& overrides);

// effectiveSortBPM of every file node that has one; folders get no entry. Siblings share their
// folders, so each ancestor is looked up once per call.
EffectiveBPMs effectiveBPMs(const std::vector<LightweightNode>& nodes, const BPMOverrides& overrides);

// The nodes in the browser's sibling order (stable: equal nodes keep their listing order).
std::vector<LightweightNode> orderSiblings(
    std::vector<LightweightNode> nodes, const EffectiveBPMs& effectiveBPM, const SortingOptions& options);

} // namespace kivo::organise

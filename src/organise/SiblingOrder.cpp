#include "organise/SiblingOrder.h"

namespace kivo::organise {

namespace {

// The nearest folder override above a path; `memo` keeps each folder's answer for the siblings.
std::optional<std::int64_t> inheritedBPM(std::string_view path, const BPMOverrides& overrides,
    std::unordered_map<std::string, std::optional<std::int64_t>>& memo)
{
    if (!overrides.overrideFor)
        return std::nullopt;
    std::vector<std::string> visited;
    std::optional<std::int64_t> found;
    for (std::string_view folder = index::parentPath(path); folder.size() >= 2;
         folder = index::parentPath(folder)) {
        std::string text(folder);
        if (const auto known = memo.find(text); known != memo.end()) {
            found = known->second;
            break;
        }
        visited.push_back(text);
        if (const auto value = overrides.overrideFor(visited.back())) {
            found = value;
            break;
        }
    }
    for (auto& folder : visited)
        memo.emplace(std::move(folder), found);
    return found;
}

std::optional<std::int64_t> resolve(const std::string& path, std::optional<std::int64_t> own,
    const BPMOverrides& overrides, std::unordered_map<std::string, std::optional<std::int64_t>>& memo)
{
    if (overrides.overrideFor) {
        if (const auto value = overrides.overrideFor(path))
            return value;
    }
    if (overrides.isCleared && overrides.isCleared(path))
        return std::nullopt;
    if (own)
        return own;
    if (const auto inherited = inheritedBPM(path, overrides, memo))
        return inherited;
    return overrides.heard ? overrides.heard(path) : std::nullopt;
}

} // namespace

std::optional<std::int64_t> effectiveSortBPM(
    const std::string& path, std::optional<std::int64_t> own, const BPMOverrides& overrides)
{
    std::unordered_map<std::string, std::optional<std::int64_t>> memo;
    return resolve(path, own, overrides, memo);
}

EffectiveBPMs effectiveBPMs(const std::vector<LightweightNode>& nodes, const BPMOverrides& overrides)
{
    EffectiveBPMs out;
    std::unordered_map<std::string, std::optional<std::int64_t>> memo;
    for (const auto& node : nodes) {
        if (node.isDirectory)
            continue;
        if (const auto bpm = resolve(node.path, node.bpm, overrides, memo))
            out.emplace(node.id, *bpm);
    }
    return out;
}

std::vector<LightweightNode> orderSiblings(
    std::vector<LightweightNode> nodes, const EffectiveBPMs& effectiveBPM, const SortingOptions& options)
{
    std::vector<SortItem> items;
    items.reserve(nodes.size());
    for (const auto& node : nodes) {
        std::optional<std::int64_t> bpm;
        if (const auto found = effectiveBPM.find(node.id); found != effectiveBPM.end())
            bpm = found->second;
        items.push_back({ node.name, node.path, node.isDirectory, bpm });
    }
    const auto order = browserOrderPermutation(items, options);
    std::vector<LightweightNode> sorted;
    sorted.reserve(nodes.size());
    for (const auto i : order)
        sorted.push_back(std::move(nodes[i]));
    return sorted;
}

} // namespace kivo::organise

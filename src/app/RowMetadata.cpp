#include "app/RowMetadata.h"

namespace kivo::app {

organise::BPMOverrides RowMetadata::sortOverrides() const
{
    organise::BPMOverrides out;
    if (analysed && !analysed->folders.empty())
        out.heard = [a = analysed](const std::string& path) -> std::optional<std::int64_t> {
            const organise::AnalysedEntry* heard = a->find(path);
            return heard ? heard->bpm : std::nullopt;
        };
    if (overrides->bpmOverrides.empty() && overrides->clearedBPMPaths.empty())
        return out;
    out.overrideFor = [o = overrides](const std::string& path) -> std::optional<std::int64_t> {
        const auto it = o->bpmOverrides.find(path);
        return it == o->bpmOverrides.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
    };
    out.isCleared = [o = overrides](const std::string& path) { return o->clearedBPMPaths.contains(path); };
    return out;
}

std::vector<std::string> RowMetadata::tagNames(const organise::TagIdSet& ids) const
{
    std::vector<std::string> out;
    if (ids.empty())
        return out;
    for (const auto& t : tags)
        if (ids.contains(t.id))
            out.push_back(t.name);
    return out;
}

void resolveRow(BrowserRow& row, organise::MetadataInheritance& pass, const RowMetadata& metadata)
{
    auto values = pass.resolve(row.path, row.bpm, row.key);
    row.bpm = values.bpm.value;
    row.bpmByUser = values.bpm.byUser;
    row.key = std::move(values.key.value);
    row.keyByUser = values.key.byUser;
    row.bpmAnalysed = values.bpm.analysed;
    row.keyAnalysed = values.key.analysed;
    row.tags = metadata.tagNames(*values.tags);
}

bool refreshAnalysed(BrowserRow& row, const organise::AnalysedValues* analysed)
{
    if (row.isDirectory)
        return false;
    const organise::AnalysedEntry* heard = analysed ? analysed->find(row.path) : nullptr;
    bool changed = false;
    if (!row.bpmByUser && (!row.bpm || row.bpmAnalysed)) {
        const auto bpm = heard ? heard->bpm : std::nullopt;
        changed |= bpm != row.bpm;
        row.bpm = bpm;
        row.bpmAnalysed = bpm.has_value();
    }
    if (!row.keyByUser && (!row.key || row.keyAnalysed)) {
        auto key = heard ? heard->key : std::nullopt;
        changed |= key != row.key;
        row.key = std::move(key);
        row.keyAnalysed = row.key.has_value();
    }
    return changed;
}

} // namespace kivo::app

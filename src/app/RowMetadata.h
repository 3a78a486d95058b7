#pragma once

// What the rows show of the user's tempo, key and tag decisions: snapshots of the two stores, made
// again whenever one of them changes, from which each listing or result list resolves its rows in
// one pass.

#include "app/BrowserColumns.h"
#include "index/MetadataOverrides.h"
#include "organise/MetadataInheritance.h"
#include "organise/SiblingOrder.h"
#include "organise/TagStore.h"

#include <memory>
#include <vector>

namespace kivo::app {

struct RowMetadata {
    std::shared_ptr<const index::MetadataOverrides> overrides = std::make_shared<index::MetadataOverrides>();
    std::shared_ptr<const organise::TagMaps> tagMaps = std::make_shared<organise::TagMaps>();
    std::vector<organise::SampleTag> tags; // the user's order, for the names of a row's tags
    // Values heard from the audio, where nothing else gives one.
    std::shared_ptr<const organise::AnalysedValues> analysed;

    organise::MetadataInheritance pass() const
    {
        organise::MetadataInheritance out(overrides, tagMaps);
        out.useAnalysed(analysed);
        return out;
    }
    // The BPM overrides and heard tempos the tree sorts by.
    organise::BPMOverrides sortOverrides() const;
    std::vector<std::string> tagNames(const organise::TagIdSet& ids) const;
};

// Replaces the row's own BPM and key (as read from the file or, for a folder, from its name) with
// the effective ones, and fills in its tags.
void resolveRow(BrowserRow& row, organise::MetadataInheritance& pass, const RowMetadata& metadata);
// A resolved file row takes newer analysed values where it shows none of its own, or shows an
// analysed one; true when the row changed.
bool refreshAnalysed(BrowserRow& row, const organise::AnalysedValues* analysed);

} // namespace kivo::app

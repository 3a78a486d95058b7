#include "organise/MetadataInheritance.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace kivo::organise {

namespace {

const TagIdSet kNoTags;

// The parent folder of a path; the empty text at the top. memrchr: every row asks for it.
std::string_view parentOf(std::string_view path)
{
    const void* slash = path.empty() ? nullptr : ::memrchr(path.data(), '/', path.size());
    return slash ? path.substr(0, std::size_t(static_cast<const char*>(slash) - path.data()))
                 : std::string_view();
}

// The last component of a path.
std::string_view nameOf(std::string_view path)
{
    const void* slash = path.empty() ? nullptr : ::memrchr(path.data(), '/', path.size());
    return slash ? path.substr(std::size_t(static_cast<const char*>(slash) - path.data()) + 1) : path;
}

// Names in one folder mostly share their length and beginning ("Kick 01.wav", "Kick 02.wav") and
// differ near the end: the last eight bytes settle almost every comparison without a memcmp call.
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    if (a.size() >= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + a.size() - 8, 8);
        std::memcpy(&y, b.data() + b.size() - 8, 8);
        if (x != y)
            return false;
    }
    return a == b;
}

// The slot holding a path in an open-addressed table of a power-of-two size, whose slots keep the
// path's hash made odd, so that 0 marks an empty slot; null if the path is not there.
template <typename Slot> const Slot* probe(const std::vector<Slot>& slots, const index::HashedPath& path)
{
    const std::size_t h = path.hash | 1;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots[i];
        if (slot.hash == 0)
            return nullptr;
        if (slot.hash == h && slot.text == path.text)
            return &slot;
    }
}

} // namespace

std::shared_ptr<const MetadataInheritance::EntryIndex> MetadataInheritance::buildEntryIndex(
    std::shared_ptr<const index::MetadataOverrides> overrides, std::shared_ptr<const TagMaps> tags)
{
    auto built = std::make_shared<EntryIndex>();
    built->overrides = std::move(overrides);
    built->tags = std::move(tags);
    const auto& o = *built->overrides;
    auto& entries = built->entries;
    entries.reserve(o.bpmOverrides.size() + o.keyOverrides.size() + o.clearedBPMPaths.size()
        + o.clearedKeyPaths.size() + built->tags->assignments.size() + built->tags->exclusions.size());
    for (const auto& [path, value] : o.bpmOverrides)
        entries[path].bpm = &value;
    for (const auto& [path, value] : o.keyOverrides)
        entries[path].key = &value;
    for (const auto& path : o.clearedBPMPaths)
        entries[path].clearedBPM = true;
    for (const auto& path : o.clearedKeyPaths)
        entries[path].clearedKey = true;
    if (!built->tags->assignments.empty()) {
        for (const auto& [path, ids] : built->tags->assignments)
            entries[path].assigned = &ids;
        for (const auto& [path, ids] : built->tags->exclusions)
            entries[path].excluded = &ids;
    }
    if (entries.empty())
        return built;
    ChildEntries topEntries;
    for (const auto& [path, e] : entries) {
        const std::string_view parent = parentOf(path);
        (parent.size() < 2 ? topEntries : built->childEntries[std::string(parent)])
            .emplace_back(nameOf(path), &e);
    }
    if (!topEntries.empty())
        built->topChildren
            = &built->childEntries.try_emplace(std::string(), std::move(topEntries)).first->second;
    std::size_t size = 16;
    while (size < 2 * (entries.size() + built->childEntries.size()))
        size *= 2;
    built->pathSlots.assign(size, {});
    auto slotOf = [&](std::string_view path) -> PathSlot& {
        const std::size_t h = index::PathHash {}(path) | 1;
        std::size_t i = h & (size - 1);
        while (built->pathSlots[i].hash != 0
            && !(built->pathSlots[i].hash == h && built->pathSlots[i].text == path))
            i = (i + 1) & (size - 1);
        built->pathSlots[i].hash = h;
        built->pathSlots[i].text = path;
        return built->pathSlots[i];
    };
    for (const auto& [path, e] : entries)
        slotOf(path).entry = &e;
    for (const auto& [path, children] : built->childEntries)
        slotOf(path).children = &children;
    return built;
}

std::shared_ptr<const MetadataInheritance::EntryIndex> MetadataInheritance::entryIndexFor(
    std::shared_ptr<const index::MetadataOverrides> overrides, std::shared_ptr<const TagMaps> tags)
{
    // The index of the most recent pair of snapshots, kept between passes. It holds those snapshots,
    // so no new snapshot can take a kept one's address; at most one replaced pair stays alive until
    // the next pass over newer ones.
    static std::mutex mutex;
    static std::shared_ptr<const EntryIndex> latest;
    std::lock_guard lock(mutex);
    if (latest && latest->overrides == overrides && latest->tags == tags)
        return latest;
    auto built = buildEntryIndex(std::move(overrides), std::move(tags));
    latest = built;
    return built;
}

MetadataInheritance::MetadataInheritance(
    std::shared_ptr<const index::MetadataOverrides> overrides, std::shared_ptr<const TagMaps> tags)
    : m_index(
        entryIndexFor(overrides ? std::move(overrides) : std::make_shared<const index::MetadataOverrides>(),
            tags ? std::move(tags) : std::make_shared<const TagMaps>()))
    , m_noEntries(m_index->entries.empty())
    , m_noTags(m_index->tags->assignments.empty())
{
    m_top.tags = &kNoTags;
    m_top.children = m_index->topChildren;
}

MetadataInheritance::MetadataInheritance()
    : MetadataInheritance(nullptr, nullptr)
{
}

const MetadataInheritance::PathSlot* MetadataInheritance::EntryIndex::find(
    const index::HashedPath& path) const
{
    return probe(pathSlots, path);
}

const MetadataInheritance::PathEntry* MetadataInheritance::entry(const index::HashedPath& path) const
{
    if (m_noEntries)
        return nullptr;
    const PathSlot* slot = m_index->find(path);
    return slot ? slot->entry : nullptr;
}

const MetadataInheritance::FolderValues* MetadataInheritance::knownFolder(const index::HashedPath& path) const
{
    const FolderSlot* slot = m_folders.empty() ? nullptr : probe(m_folders, path);
    return slot ? slot->values : nullptr;
}

const MetadataInheritance::FolderValues* MetadataInheritance::rememberFolder(
    const index::HashedPath& path, const FolderValues& values)
{
    if (2 * (m_folderCount + 1) > m_folders.size()) {
        std::vector<FolderSlot> grown(std::max<std::size_t>(1024, 2 * m_folders.size()));
        const std::size_t mask = grown.size() - 1;
        for (const FolderSlot& slot : m_folders) {
            if (slot.hash == 0)
                continue;
            std::size_t i = slot.hash & mask;
            while (grown[i].hash != 0)
                i = (i + 1) & mask;
            grown[i] = slot;
        }
        m_folders = std::move(grown);
    }
    char* name = static_cast<char*>(m_arena->allocate(path.text.size(), 1));
    std::memcpy(name, path.text.data(), path.text.size());
    auto* stored = new (m_arena->allocate(sizeof(FolderValues), alignof(FolderValues))) FolderValues(values);
    const std::size_t h = path.hash | 1;
    const std::size_t mask = m_folders.size() - 1;
    std::size_t i = h & mask;
    while (m_folders[i].hash != 0)
        i = (i + 1) & mask;
    m_folders[i] = { h, std::string_view(name, path.text.size()), stored };
    ++m_folderCount;
    return stored;
}

const MetadataInheritance::FolderValues& MetadataInheritance::folder(std::string_view path)
{
    // Up to the nearest folder already known (or the top), then down again, one level at a time:
    // each folder's ancestry is walked once per pass.
    m_pending.clear();
    const FolderValues* base = &m_top;
    // Each folder is hashed once for its three lookups.
    for (std::string_view f = path; f.size() >= 2; f = parentOf(f)) {
        const index::HashedPath hashed(f);
        if (const FolderValues* known = knownFolder(hashed)) {
            base = known;
            break;
        }
        m_pending.push_back(hashed);
    }
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it) {
        // One probe answers both the folder's own entry and whether anything inside has one.
        const PathSlot* slot = m_noEntries ? nullptr : m_index->find(*it);
        const PathEntry* e = slot ? slot->entry : nullptr;
        FolderValues values = *base;
        if (e && e->bpm)
            values.bpm = *e->bpm;
        if (e && e->key)
            values.key = e->key;
        if (e && (e->assigned || e->excluded)) {
            TagIdSet tags = *base->tags;
            if (e->assigned)
                tags.insert(e->assigned->begin(), e->assigned->end());
            if (e->excluded)
                for (const TagId& id : *e->excluded)
                    tags.erase(id);
            values.tags = &m_folderTags.emplace_back(std::move(tags));
        }
        values.children = slot ? slot->children : nullptr; // this folder's own, not its parent's
        base = rememberFolder(*it, values);
    }
    return *base;
}

const MetadataInheritance::FolderValues& MetadataInheritance::parentValues(std::string_view path)
{
    const std::string_view parent = parentOf(path);
    if (!m_lastParentValues || !sameName(parent, m_lastParent)) {
        m_lastParentValues = &folder(parent);
        m_lastParent.assign(parent);
    }
    return *m_lastParentValues;
}

const MetadataInheritance::PathEntry* MetadataInheritance::entryIn(
    const FolderValues& parent, std::string_view path) const
{
    if (!parent.children)
        return nullptr;
    // A folder with many corrected files inside is asked by hash; a few names are compared directly.
    constexpr std::size_t kFewNames = 8;
    if (parent.children->size() > kFewNames)
        return entry(index::HashedPath(path));
    const std::string_view name = nameOf(path);
    for (const auto& [childName, e] : *parent.children)
        if (sameName(childName, name))
            return e;
    return nullptr;
}

Effective<std::int64_t> MetadataInheritance::bpmOf(
    const PathEntry* e, const FolderValues& parent, std::optional<std::int64_t> own) const
{
    if (e && e->bpm)
        return { *e->bpm, true };
    if (e && e->clearedBPM)
        return { std::nullopt, true };
    if (own)
        return { own, false };
    return { parent.bpm, parent.bpm.has_value() };
}

Effective<std::string> MetadataInheritance::keyOf(
    const PathEntry* e, const FolderValues& parent, const std::optional<std::string>& own) const
{
    if (e && e->key)
        return { *e->key, true };
    if (e && e->clearedKey)
        return { std::nullopt, true };
    if (own)
        return { own, false };
    if (!parent.key)
        return {};
    return { *parent.key, true };
}

const TagIdSet& MetadataInheritance::tagsOf(
    const PathEntry* e, const FolderValues& parent, std::string_view path)
{
    if (!e || (!e->assigned && !e->excluded))
        return *parent.tags;
    if (const auto known = m_fileTags.find(path); known != m_fileTags.end())
        return known->second;
    TagIdSet tags = *parent.tags;
    if (e->assigned)
        tags.insert(e->assigned->begin(), e->assigned->end());
    if (e->excluded)
        for (const TagId& id : *e->excluded)
            tags.erase(id);
    return m_fileTags.try_emplace(std::string(path), std::move(tags)).first->second;
}

std::optional<std::int64_t> MetadataInheritance::effectiveBPM(
    std::string_view path, std::optional<std::int64_t> own)
{
    return resolveBPM(path, own).value;
}

std::optional<std::string> MetadataInheritance::effectiveKey(
    std::string_view path, const std::optional<std::string>& own)
{
    return resolveKey(path, own).value;
}

void MetadataInheritance::fillAnalysed(
    std::string_view path, Effective<std::int64_t>* bpm, Effective<std::string>* key) const
{
    const bool wantBPM = bpm && !bpm->value && !bpm->byUser;
    const bool wantKey = key && !key->value && !key->byUser;
    if (!m_analysed || (!wantBPM && !wantKey))
        return;
    const AnalysedEntry* heard = m_analysed->find(path);
    if (!heard)
        return;
    if (wantBPM && heard->bpm) {
        bpm->value = heard->bpm;
        bpm->analysed = true;
    }
    if (wantKey && heard->key) {
        key->value = heard->key;
        key->analysed = true;
    }
}

Effective<std::int64_t> MetadataInheritance::resolveBPM(
    std::string_view path, std::optional<std::int64_t> own)
{
    Effective<std::int64_t> bpm = statedBPM(path, own);
    fillAnalysed(path, &bpm, nullptr);
    return bpm;
}

Effective<std::string> MetadataInheritance::resolveKey(
    std::string_view path, const std::optional<std::string>& own)
{
    Effective<std::string> key = statedKey(path, own);
    fillAnalysed(path, nullptr, &key);
    return key;
}

EffectiveValues MetadataInheritance::resolve(
    std::string_view path, std::optional<std::int64_t> ownBPM, const std::optional<std::string>& ownKey)
{
    EffectiveValues values = stated(path, ownBPM, ownKey);
    fillAnalysed(path, &values.bpm, &values.key);
    return values;
}

Effective<std::int64_t> MetadataInheritance::statedBPM(std::string_view path, std::optional<std::int64_t> own)
{
    // Nothing overridden anywhere: the file's own value, without a walk.
    if (m_noEntries)
        return { own, false };
    const FolderValues& parent = parentValues(path);
    return bpmOf(entryIn(parent, path), parent, own);
}

Effective<std::string> MetadataInheritance::statedKey(
    std::string_view path, const std::optional<std::string>& own)
{
    if (m_noEntries)
        return { own, false };
    const FolderValues& parent = parentValues(path);
    return keyOf(entryIn(parent, path), parent, own);
}

const TagIdSet& MetadataInheritance::effectiveTags(std::string_view path)
{
    if (m_noTags)
        return kNoTags;
    const FolderValues& parent = parentValues(path);
    return tagsOf(entryIn(parent, path), parent, path);
}

EffectiveValues MetadataInheritance::stated(
    std::string_view path, std::optional<std::int64_t> ownBPM, const std::optional<std::string>& ownKey)
{
    if (m_noEntries)
        return { { ownBPM, false }, { ownKey, false }, &kNoTags };
    const FolderValues& parent = parentValues(path);
    const PathEntry* e = parent.children ? entryIn(parent, path) : nullptr;
    if (e)
        return { bpmOf(e, parent, ownBPM), keyOf(e, parent, ownKey), &tagsOf(e, parent, path) };
    // No entry of its own, as for nearly every file: its own values, else its folder's, built in
    // place (a row is made for every file, and temporaries here cost as much as the lookups).
    EffectiveValues values;
    if (ownBPM)
        values.bpm.value = ownBPM;
    else if (parent.bpm) {
        values.bpm.value = parent.bpm;
        values.bpm.byUser = true;
    }
    if (ownKey)
        values.key.value.emplace(*ownKey);
    else if (parent.key) {
        values.key.value.emplace(*parent.key);
        values.key.byUser = true;
    }
    values.tags = parent.tags;
    return values;
}

} // namespace kivo::organise

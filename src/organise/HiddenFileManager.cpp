#include "organise/HiddenFileManager.h"

#include "index/IndexRecords.h"
#include "platform/MainThread.h"
#include "platform/PreferenceStore.h"

#include <cassert>

namespace kivo::organise {

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

// A stored set: the strings of the array, anything else dropped; a missing key is an empty set.
HiddenPathSet readSet(const platform::PreferenceStore& store, const char* name)
{
    HiddenPathSet out;
    if (const auto list = store.arrayValue(key(name)))
        for (const QVariant& item : *list)
            if (item.typeId() == QMetaType::QString && !item.toString().isEmpty())
                out.insert(item.toString().toStdString());
    return out;
}

template <class Set> void writeSet(platform::PreferenceStore& store, const char* name, const Set& set)
{
    QVariantList list;
    list.reserve(qsizetype(set.size()));
    for (const auto& text : set)
        list << QString::fromStdString(text);
    store.setValue(key(name), list);
}

// The canonical (upper-case) text of a collection identifier; none for anything else.
std::optional<std::string> groupKey(const std::string& text)
{
    const auto id = index::Uuid::parse(text);
    return id ? std::optional(id->text()) : std::nullopt;
}

} // namespace

std::string hideToggleHelp(const RowMarks& marks)
{
    if (marks.hidden)
        return "Will be hidden - press H to apply";
    if (marks.autoSkipped)
        return "Skipped by \"Skip nested subfolders\" - its contents show in its place (\u2325-click to "
               "override)";
    if (marks.skipped)
        return "Folder will be skipped - its contents show in its place (\u2325-click to undo)";
    return "Mark as hidden";
}

HideToggleAction hideToggleAction(const RowMarks& marks, bool isDirectory, HideToggleClick click)
{
    if (click == HideToggleClick::plain || !isDirectory)
        return HideToggleAction::toggleHidden;
    if (marks.skipped)
        return HideToggleAction::toggleSkipped;
    // A repeated option-click takes the exemption away again.
    if (marks.autoSkipped || marks.exempt)
        return HideToggleAction::toggleExempt;
    return HideToggleAction::toggleSkipped;
}

HiddenFileManager::HiddenFileManager(platform::PreferenceStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    reload();
}

bool HiddenFileManager::isGroupHidden(const std::string& collectionID) const
{
    const auto k = groupKey(collectionID);
    return k && m_groupIDs.contains(*k);
}

HiddenView HiddenFileManager::view() const
{
    HiddenView v;
    v.sets = m_sets;
    v.hideMode = m_hideMode;
    v.showOnlyHidden = m_showOnlyHidden;
    v.skipNestedSubfolders = m_skipNested;
    v.isMissing = m_isMissing;
    return v;
}

void HiddenFileManager::apply(
    HiddenPathSet hidden, HiddenPathSet skipped, HiddenPathSet exempt, int changedSets)
{
    if (!changedSets)
        return;
    m_sets = std::make_shared<const HiddenSets>(std::move(hidden), std::move(skipped), std::move(exempt));
    if (changedSets & kHidden) {
        writeSet(m_store, kHiddenFilePathsKey, m_sets->hiddenPaths());
        emit hiddenPathsChanged();
    }
    if (changedSets & kSkipped) {
        writeSet(m_store, kSkippedFolderPathsKey, m_sets->skippedPaths());
        emit skippedPathsChanged();
    }
    if (changedSets & kExempt) {
        writeSet(m_store, kNestedSkipExemptPathsKey, m_sets->nestedSkipExemptPaths());
        emit nestedSkipExemptPathsChanged();
    }
    emit changed();
}

void HiddenFileManager::setHidden(const std::vector<std::string>& paths, bool hidden)
{
    KIVO_MAIN_THREAD();
    HiddenPathSet h = m_sets->hiddenPaths(), s = m_sets->skippedPaths();
    int changedSets = 0;
    for (const auto& path : paths) {
        if (hidden) {
            if (h.insert(path).second)
                changedSets |= kHidden;
            if (s.erase(path))
                changedSets |= kSkipped;
        } else if (h.erase(path)) {
            changedSets |= kHidden;
        }
    }
    apply(std::move(h), std::move(s), m_sets->nestedSkipExemptPaths(), changedSets);
}

void HiddenFileManager::setSkipped(const std::vector<std::string>& paths, bool skipped)
{
    KIVO_MAIN_THREAD();
    HiddenPathSet h = m_sets->hiddenPaths(), s = m_sets->skippedPaths();
    int changedSets = 0;
    for (const auto& path : paths) {
        if (skipped) {
            if (s.insert(path).second)
                changedSets |= kSkipped;
            if (h.erase(path))
                changedSets |= kHidden;
        } else if (s.erase(path)) {
            changedSets |= kSkipped;
        }
    }
    apply(std::move(h), std::move(s), m_sets->nestedSkipExemptPaths(), changedSets);
}

void HiddenFileManager::setNestedSkipExempt(const std::vector<std::string>& paths, bool exempt)
{
    KIVO_MAIN_THREAD();
    HiddenPathSet e = m_sets->nestedSkipExemptPaths();
    bool changedAny = false;
    for (const auto& path : paths)
        changedAny |= exempt ? e.insert(path).second : e.erase(path) > 0;
    apply(m_sets->hiddenPaths(), m_sets->skippedPaths(), std::move(e), changedAny ? kExempt : 0);
}

void HiddenFileManager::setGroupHidden(const std::string& collectionID, bool hidden)
{
    KIVO_MAIN_THREAD();
    const auto k = groupKey(collectionID);
    if (!k)
        return;
    const bool changedAny = hidden ? m_groupIDs.insert(*k).second : m_groupIDs.erase(*k) > 0;
    if (!changedAny)
        return;
    writeSet(m_store, kHiddenCollectionIDsKey, m_groupIDs);
    emit hiddenGroupIDsChanged();
    emit changed();
}

void HiddenFileManager::setModes(bool hideMode, bool showOnlyHidden)
{
    const bool hideChanged = hideMode != m_hideMode;
    const bool onlyChanged = showOnlyHidden != m_showOnlyHidden;
    m_hideMode = hideMode;
    m_showOnlyHidden = showOnlyHidden;
    if (!m_hideMode && !m_autoDeselected.empty()) {
        m_autoDeselected.clear();
        emit autoDeselectedGroupStackChanged();
    }
    if (hideChanged)
        emit isHideModeActiveChanged();
    if (onlyChanged)
        emit isShowOnlyHiddenActiveChanged();
    if (hideChanged || onlyChanged)
        emit changed();
}

void HiddenFileManager::toggleHideMode()
{
    KIVO_MAIN_THREAD();
    setModes(!m_hideMode, false);
}

void HiddenFileManager::toggleShowOnlyHidden()
{
    KIVO_MAIN_THREAD();
    const bool only = !m_showOnlyHidden;
    setModes(only ? true : m_hideMode, only);
}

void HiddenFileManager::pushAutoDeselectedGroup(const std::string& collectionID)
{
    if (!m_hideMode)
        return;
    m_autoDeselected.push_back(collectionID);
    emit autoDeselectedGroupStackChanged();
}

std::optional<std::string> HiddenFileManager::popAutoDeselectedGroup()
{
    if (m_autoDeselected.empty())
        return std::nullopt;
    std::string id = std::move(m_autoDeselected.back());
    m_autoDeselected.pop_back();
    emit autoDeselectedGroupStackChanged();
    return id;
}

void HiddenFileManager::remapPaths(const std::string& oldPath, const std::string& newPath)
{
    KIVO_MAIN_THREAD();
    if (oldPath.empty() || oldPath == newPath)
        return;
    HiddenPathSet h = m_sets->hiddenPaths(), s = m_sets->skippedPaths(), e = m_sets->nestedSkipExemptPaths();
    int changedSets = 0;
    if (index::remapKeys(h, oldPath, newPath))
        changedSets |= kHidden;
    if (index::remapKeys(s, oldPath, newPath))
        changedSets |= kSkipped;
    if (index::remapKeys(e, oldPath, newPath))
        changedSets |= kExempt;
    // Two paths that now meet keep the invariant: hidden wins, as the newer mark cannot be told.
    for (const auto& path : h)
        if (s.erase(path))
            changedSets |= kSkipped;
    apply(std::move(h), std::move(s), std::move(e), changedSets);
}

void HiddenFileManager::reload()
{
    KIVO_MAIN_THREAD();
    HiddenPathSet h = readSet(m_store, kHiddenFilePathsKey);
    HiddenPathSet s = readSet(m_store, kSkippedFolderPathsKey);
    for (const auto& path : h)
        s.erase(path);
    m_sets = std::make_shared<const HiddenSets>(
        std::move(h), std::move(s), readSet(m_store, kNestedSkipExemptPathsKey));
    std::set<std::string> groups;
    for (const auto& text : readSet(m_store, kHiddenCollectionIDsKey))
        if (const auto k = groupKey(text))
            groups.insert(*k);
    m_groupIDs = std::move(groups);
    emit hiddenPathsChanged();
    emit skippedPathsChanged();
    emit nestedSkipExemptPathsChanged();
    emit hiddenGroupIDsChanged();
    emit changed();
}

} // namespace kivo::organise

#pragma once

// The user's hidden files and folders, skipped folders, folders exempt from the automatic skip and
// hidden collections, kept in the preference store ("HiddenFilePaths", "SkippedFolderPaths",
// "NestedSkipExemptPaths", "HiddenCollectionIDs") and written at once on every change; and the two
// viewing modes in which the marks are edited (never stored). Readers off the main thread take
// view(): a copy of everything a row decision needs. Main thread only.

#include "organise/HiddenRows.h"

#include <QObject>

#include <set>
#include <string>
#include <vector>

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::organise {

inline constexpr char kHiddenFilePathsKey[] = "HiddenFilePaths";
inline constexpr char kHiddenCollectionIDsKey[] = "HiddenCollectionIDs";
inline constexpr char kSkippedFolderPathsKey[] = "SkippedFolderPaths";
inline constexpr char kNestedSkipExemptPathsKey[] = "NestedSkipExemptPaths";

inline constexpr char kContainsHiddenHint[] = "Contains hidden or skipped items";

// The help text of a row's hide toggle, most telling mark first.
std::string hideToggleHelp(const RowMarks& marks);

enum class HideToggleClick { plain, option };
// What a click on a row's hide toggle changes.
enum class HideToggleAction { toggleHidden, toggleSkipped, toggleExempt, none };
HideToggleAction hideToggleAction(const RowMarks& marks, bool isDirectory, HideToggleClick click);

class HiddenFileManager : public QObject {
    Q_OBJECT
public:
    // Reads the four keys now.
    explicit HiddenFileManager(platform::PreferenceStore& store, QObject* parent = nullptr);

    const HiddenPathSet& hiddenPaths() const { return m_sets->hiddenPaths(); }
    const HiddenPathSet& skippedPaths() const { return m_sets->skippedPaths(); }
    const HiddenPathSet& nestedSkipExemptPaths() const { return m_sets->nestedSkipExemptPaths(); }
    const std::set<std::string>& hiddenGroupIDs() const { return m_groupIDs; }
    bool isGroupHidden(const std::string& collectionID) const;
    bool isHideModeActive() const { return m_hideMode; }
    bool isShowOnlyHiddenActive() const { return m_showOnlyHidden; }
    // Collections the window deselected by itself while hide mode is on, the latest last.
    const std::vector<std::string>& autoDeselectedGroupStack() const { return m_autoDeselected; }
    void pushAutoDeselectedGroup(const std::string& collectionID);
    std::optional<std::string> popAutoDeselectedGroup();

    // Rows of paths the missing-item tracker reports stay visible outside hide mode.
    void setMissingCheck(PathCheck check) { m_isMissing = std::move(check); }
    void setSkipNestedSubfolders(bool on) { m_skipNested = on; }
    // Everything one pass of the tree or a search decides with, as it is now.
    HiddenView view() const;
    bool isFilteredOut(const std::string& path) const { return view().isFilteredOut(path); }
    bool containsHiddenOrSkipped(const std::string& folderPath) const
    {
        return m_sets->containsHiddenOrSkipped(folderPath);
    }

    void setHidden(const std::vector<std::string>& paths, bool hidden);
    void setSkipped(const std::vector<std::string>& paths, bool skipped);
    void setNestedSkipExempt(const std::vector<std::string>& paths, bool exempt);
    void setGroupHidden(const std::string& collectionID, bool hidden);
    void toggleHideMode();
    void toggleShowOnlyHidden();
    // A folder moved or a root was relocated: hidden, skipped and exempt paths at `oldPath` and
    // below follow it.
    void remapPaths(const std::string& oldPath, const std::string& newPath);
    // Reads the four keys again (another workspace became the live one).
    void reload();

signals:
    void hiddenPathsChanged();
    void skippedPathsChanged();
    void nestedSkipExemptPathsChanged();
    void hiddenGroupIDsChanged();
    void isHideModeActiveChanged();
    void isShowOnlyHiddenActiveChanged();
    void autoDeselectedGroupStackChanged();
    // Once after any change that alters which rows show or how they are marked.
    void changed();

private:
    enum SetBit { kHidden = 1, kSkipped = 2, kExempt = 4 };
    void apply(HiddenPathSet hidden, HiddenPathSet skipped, HiddenPathSet exempt, int changedSets);
    void setModes(bool hideMode, bool showOnlyHidden);

    platform::PreferenceStore& m_store;
    std::shared_ptr<const HiddenSets> m_sets = std::make_shared<const HiddenSets>();
    std::set<std::string> m_groupIDs;
    bool m_hideMode = false;
    bool m_showOnlyHidden = false;
    bool m_skipNested = false;
    std::vector<std::string> m_autoDeselected;
    PathCheck m_isMissing;
};

} // namespace kivo::organise

#pragma once

// The user's tags: their list in the user's order, where each was given and where an inherited one
// was taken away again, kept in the preference store ("SampleTags", "FileTagAssignments",
// "FileTagExclusions") and written at once on every change. Readers off the main thread take
// maps(): an immutable copy. Main thread only.

#include "organise/TagSets.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::organise {

inline constexpr char kSampleTagsKey[] = "SampleTags";
inline constexpr char kFileTagAssignmentsKey[] = "FileTagAssignments";
inline constexpr char kFileTagExclusionsKey[] = "FileTagExclusions";

struct SampleTag {
    TagId id;
    std::string name;
    bool operator==(const SampleTag&) const = default;
};

// A tag's button in the tag pop-up, for the items it was opened on.
enum class TagButtonState {
    off,
    on, // given to the item itself
    inherited, // the item gets it from a folder above
    mixed, // the selected items differ
};

// The button's help text: the name, with a note for the mixed and inherited states.
std::string tagButtonHelp(const std::string& name, TagButtonState state);
// The question before a delete: Delete "Drums"?
std::string deleteTagTitle(const std::string& name);
inline constexpr char kDeleteTagMessage[]
    = "This will remove the tag from all of the items it has been assigned to.";

class TagStore : public QObject {
    Q_OBJECT
public:
    // Reads the three keys now.
    explicit TagStore(platform::PreferenceStore& store, QObject* parent = nullptr);

    const std::vector<SampleTag>& tags() const { return m_tags; }
    const SampleTag* tag(const TagId& id) const;
    const TagMap& assignments() const { return m_maps->assignments; }
    const TagMap& exclusions() const { return m_maps->exclusions; }
    std::shared_ptr<const TagMaps> maps() const { return m_maps; }

    TagIdSet effectiveTags(const std::string& path) const { return organise::effectiveTags(*m_maps, path); }
    TagIdSet inheritedTags(const std::string& path) const { return organise::inheritedTags(*m_maps, path); }
    // The names of `ids` in the user's tag order; ids of no tag are left out.
    std::vector<std::string> names(const TagIdSet& ids) const;
    TagButtonState buttonState(const TagId& id, const std::vector<std::string>& paths) const;

    void setTag(const TagId& id, TagChoice choice, const std::vector<std::string>& paths);
    void clearTags(const std::vector<std::string>& paths);
    // A new tag at the end of the list, its name cleaned and made unique; none for an empty name.
    std::optional<TagId> createTag(const std::string& name);
    // Cleans the name and makes it unique among the other tags; an empty result or the same name
    // changes nothing.
    void renameTag(const TagId& id, const std::string& newName);
    void moveTag(const TagId& id, int toIndex);
    // The tag and every use of it.
    void deleteTag(const TagId& id);
    // A folder moved or a root was relocated: keys at `oldPath` and below follow it.
    void remapPaths(const std::string& oldPath, const std::string& newPath);
    // Reads all three keys again (another workspace became the live one).
    void reload();

signals:
    void tagsChanged();
    void assignmentsChanged();
    void exclusionsChanged();
    // Once after any of the above.
    void changed();

private:
    void setMaps(TagMaps next);
    void setTags(std::vector<SampleTag> next);
    void saveTags();
    void saveMaps();

    platform::PreferenceStore& m_store;
    std::vector<SampleTag> m_tags;
    std::shared_ptr<const TagMaps> m_maps = std::make_shared<TagMaps>();
};

} // namespace kivo::organise

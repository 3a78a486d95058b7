#pragma once

// The rules of tags, over plain values: where a tag was given (assignments) and where an inherited
// one was taken away (exclusions), what an item ends up with, the edits of the tag pop-up, and tag
// names. Pure, no Qt; the tag store and background filtering both use it.

#include "index/IndexRecords.h"
#include "index/PathKeyed.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::organise {

using TagId = index::Uuid;

struct TagIdLess {
    bool operator()(const TagId& a, const TagId& b) const { return a.bytes < b.bytes; }
};
using TagIdSet = std::set<TagId, TagIdLess>;
// Path to a non-empty set of tag ids: an empty set is never stored.
using TagMap = index::PathKeyedMap<TagIdSet>;

struct TagMaps {
    TagMap assignments;
    TagMap exclusions;
    bool operator==(const TagMaps&) const = default;
};

// Whether the pop-up turns a tag on or off for the selected items.
enum class TagChoice { off, on };

inline constexpr std::size_t kMaxTagNameLength = 24;

// The chain of levels above the path ends here: the file-system root is never part of it.
std::string_view parentFolder(std::string_view path);
// Assignments of every level from the outermost folder down to the path, each level's exclusions
// taken away after its assignments.
TagIdSet effectiveTags(const TagMaps& maps, std::string_view path);
// What the path gets from its folder: effectiveTags of the parent (empty at the top).
TagIdSet inheritedTags(const TagMaps& maps, std::string_view path);

// On: lifts an exclusion, and assigns the tag unless it is inherited already. Off: takes away an
// assignment, and excludes the tag where it is inherited.
void applySetTag(TagMaps& maps, const TagId& id, TagChoice choice, const std::vector<std::string>& paths);
// No tags at all on each path: its assignments go, and everything it inherits is excluded.
void applyClearTags(TagMaps& maps, const std::vector<std::string>& paths);
// The id out of every set; entries left empty go. True when anything changed.
bool removeTagEverywhere(TagMaps& maps, const TagId& id);
// Keys at `from` or below it move under `to`; sets that meet are joined. True when anything moved.
bool remapTagPaths(TagMaps& maps, std::string_view from, std::string_view to);

// White space and line breaks trimmed, cut to 24 characters (characters, not bytes).
std::string cleanTagName(std::string_view name);
// `candidate` made unique among `others` without regard to case: "Drums" beside "Drums" becomes
// "Drums 2", "Drums 2" beside "Drums 2" becomes "Drums 3"; unchanged when free or no number up to
// 999 helps.
std::string uniqueTagName(const std::string& candidate, const std::vector<std::string>& others);

} // namespace kivo::organise

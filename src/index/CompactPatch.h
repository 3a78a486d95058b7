#pragma once

// Changes of a few files and folders (a quick refresh, the merge of a sync's walk) made straight on the
// compact form, without making the whole index into maps and back.
//
// The patch works on its own copy of the published state and becomes the next state when finished, so
// a reader of the old state never sees a change half made. A changed folder gets a new record with
// its new lists appended after the others; its old record and lists stay behind unused until they
// outweigh the live ones, when the records are laid out afresh. Removed and added paths of each token
// are gathered and merged into the sorted postings once, at the end.
//
// The copy the patch starts from shares the published state's arrays (SharedArrays.h) and each
// collection's token lists (TokenPostings.h): what the patch changes is copied, chunk by chunk or as
// a layer of changed tokens, and nothing else, so its cost follows the change, not the library.

#include "index/CompactIndex.h"
#include "index/IndexBuilder.h"

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace kivo::index {

// Made on the thread that holds the store's writer turn (so that no other write can come between the
// state it copies and the one it publishes); readers go on with the published state meanwhile.
class CompactPatch {
public:
    explicit CompactPatch(CompactIndex index);

    const CompactIndex& index() const { return m_index; }
    GroupRoots& roots() { return m_index.roots; }

    // As removeFiles / removeFolder over the maps; returns the removed file paths.
    void removeFiles(const std::vector<std::string>& paths);
    std::vector<std::string> removeFolder(const std::string& path);
    // As removeRoots / removeGroups over the maps: the files under a removed root leave the tokens of
    // its collection (a removed collection's tokens go whole), and the records under it go unless a
    // root that remains holds them. Found down the folders' lists, so the cost is that of the part
    // removed; the tokens of other collections are kept as they are. Made before other changes.
    void removeRoots(const std::vector<std::string>& roots, const GroupID& group);
    void removeGroups(const std::set<GroupID>& groups);
    // A walk's folders, files and tokens; its records replace the state's for the same paths. With
    // Listing::inParent, the walk's top folder is also listed in its parent's record (a new sub-folder).
    enum class Listing { asWalked, inParent };
    void addWalk(IndexBuilder&& walk, const std::string& top, Listing listing);
    // Files added to folders the index holds (a record per collection containing them, the same
    // record each time), with their tokens in `tokens`.
    void addFiles(std::vector<FileInfo>&& records, IndexBuilder&& tokens);
    void applyFreshTimes(const std::map<std::string, double>& freshMTimes,
        const std::map<std::string, std::uint64_t>& freshInodes);

    CompactIndex finish();

private:
    struct FolderEdit {
        std::uint32_t folder; // the record it starts from
        std::vector<std::uint32_t> removedFiles; // path ids
        std::vector<FileInfo> addedFiles; // in the order added; a path already listed is replaced in place
        std::vector<std::uint32_t> subdirectories;
    };
    using Changes = std::map<GroupID, TokenChanges>;

    // The folders at and under `top` and the files they list under it, as path ids.
    struct Subtree {
        std::vector<std::uint32_t> folders, files;
    };
    Subtree subtree(std::string_view top) const;
    FolderEdit* edit(std::string_view folderPath);
    void dropFile(std::uint32_t id);
    // Drops the records of `removed` that no root of any collection holds any more.
    void dropRecordsUnder(const std::vector<Subtree>& removed);
    void addTokens(GroupTokenIndex&& tokens, Changes& into);
    // Tokens by the positions of their files in `ids`.
    void addNotedTokens(std::map<GroupID, IndexBuilder::PendingTokens>&& tokens,
        const std::vector<std::uint32_t>& ids, Changes& into);
    void layOutAfresh();

    CompactIndex m_index;
    std::unordered_map<std::uint32_t, FolderEdit> m_edits; // by folder path id
    Changes m_names, m_keywords;
};

} // namespace kivo::index

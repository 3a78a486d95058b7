#pragma once

// The private maps one scan fills. Nothing reads them while the scan runs; at the end they are moved
// into the store (full build) or merged into it (sync, new folders of a quick refresh).

#include "index/CompactIndex.h"
#include "index/IndexMaps.h"
#include "index/IndexRecords.h"

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace kivo::index {

class IndexBuilder {
public:
    DirectoryIndex directoryIndex;
    FileIndex fileIndex;
    // Filled by finish(): during the walk a file's tokens are only noted, and each path set is built
    // once at its final size, with the two indexes built side by side.
    GroupTokenIndex searchIndex;
    GroupTokenIndex keywordIndex;

    // Token -> the paths (keys of fileIndex, whose nodes never move) that carry it.
    using PendingTokens = std::unordered_map<std::string, std::vector<const std::string*>>;
    // Where the files of one folder go: their collection's name tokens and the lists of the folder's
    // keywords, looked up once for the folder rather than once per file.
    struct FolderSlots {
        PendingTokens* names = nullptr;
        std::vector<std::vector<const std::string*>*> keywords;
    };

    void add(const FileInfo& file, const GroupID& groupID, const std::string& root);
    // The same with the file's folder keywords already worked out: every file of a folder shares them.
    void add(const FileInfo& file, const GroupID& groupID, const std::vector<std::string>& folderKeywords);
    FolderSlots slotsFor(const GroupID& groupID, const std::vector<std::string>& folderKeywords);
    // `tokens` are those of `tokenize(file.name, 1)`.
    void add(const FileInfo& file, std::vector<std::string>&& tokens, const FolderSlots& targets);

    // Moves everything into the maps: records by path (the builder's, being fresher, replace the
    // store's), path sets united per collection and token.
    void mergeInto(IndexMaps& maps);
    // Replaces the maps' records and token indexes with the builder's (the roots are the caller's).
    void replace(IndexMaps& maps);

    void finish();

    // Everything in the compact form, with `roots`: the same as compactIndexOf of the maps replace()
    // fills, made without them, since a full build's path sets would be thrown away at once. Leaves the
    // builder empty.
    CompactIndex compact(const GroupRoots& roots);

    bool empty() const { return directoryIndex.empty() && fileIndex.empty(); }

private:
    std::map<GroupID, PendingTokens> m_pendingNames;
    std::map<GroupID, PendingTokens> m_pendingKeywords;
};

} // namespace kivo::index

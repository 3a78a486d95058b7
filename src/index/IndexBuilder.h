#pragma once

// The private maps one scan fills. Nothing reads them while the scan runs; at the end they are moved
// into the store (full build) or merged into it (sync, new folders of a quick refresh). A full build
// that goes straight into the compact form keeps only what that needs: the records in walk order and
// each folder's place, with no map of files.

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
    // maps: the records are filed in directoryIndex and fileIndex as they come. compact: they are kept
    // for compact() alone, which is then the only way to take them out.
    enum class Form : std::uint8_t { maps, compact };
    explicit IndexBuilder(Form form = Form::maps)
        : m_form(form)
    {
    }

    DirectoryIndex directoryIndex;
    FileIndex fileIndex;
    // Filled by finish(): during the walk a file's tokens are only noted, and each path set is built
    // once at its final size, with the two indexes built side by side.
    GroupTokenIndex searchIndex;
    GroupTokenIndex keywordIndex;

    // Token -> the files that carry it, by the order they were added in.
    using PendingTokens = std::unordered_map<std::string, std::vector<std::uint32_t>>;
    // Where the files of one folder go: their collection's name tokens and the lists of the folder's
    // keywords, looked up once for the folder rather than once per file.
    struct FolderSlots {
        PendingTokens* names = nullptr;
        std::vector<std::vector<std::uint32_t>*> keywords;
    };
    // One folder as a walk makes it: its record, and in the compact form the files it lists (by the
    // order they were added in) instead of the record's own list.
    struct Folder {
        DirectoryInfo info;
        std::vector<std::uint32_t> files;
    };

    // Room for `files` records, as the counting pass found them, so the walk never moves them.
    void reserve(std::size_t files)
    {
        if (m_form == Form::compact)
            m_files.reserve(files);
    }

    void add(const FileInfo& file, const GroupID& groupID, const std::string& root);
    // The same with the file's folder keywords already worked out: every file of a folder shares them.
    void add(const FileInfo& file, const GroupID& groupID, const std::vector<std::string>& folderKeywords);
    FolderSlots slotsFor(const GroupID& groupID, const std::vector<std::string>& folderKeywords);
    // `tokens` are those of `tokenize(file.name, 1)`.
    void add(const FileInfo& file, std::vector<std::string>&& tokens, const FolderSlots& targets);
    // A walk's file, listed in `folder`.
    void add(FileInfo&& file, std::vector<std::string>&& tokens, const FolderSlots& targets, Folder& folder);
    // A walked folder, done: a later record of the same path replaces an earlier one.
    void addFolder(Folder&& folder);

    // Moves everything into the maps: records by path (the builder's, being fresher, replace the
    // store's), path sets united per collection and token.
    void mergeInto(IndexMaps& maps);
    // Replaces the maps' records and token indexes with the builder's (the roots are the caller's).
    void replace(IndexMaps& maps);

    void finish();

    // The tokens noted since the last finish(), taken without making their path sets (maps form): by
    // collection and token, the positions of their files in `paths`. For a merge that wants ids, not
    // paths; the paths point into fileIndex and live as long as it does. None in the compact form.
    struct NotedTokens {
        std::map<GroupID, PendingTokens> names, keywords;
        std::vector<const std::string*> paths;
    };
    NotedTokens takeNotedTokens();

    // Everything in the compact form, with `roots`: the same as compactIndexOf of the maps replace()
    // fills, made without them, since a full build's path sets would be thrown away at once. Leaves the
    // builder empty.
    CompactIndex compact(const GroupRoots& roots);

    bool empty() const
    {
        return directoryIndex.empty() && fileIndex.empty() && m_folders.empty() && m_files.empty();
    }

private:
    void noteTokens(std::uint32_t file, std::vector<std::string>&& tokens, const FolderSlots& targets);
    CompactIndex compactRecords(const GroupRoots& roots, std::vector<std::uint32_t>& ids);

    Form m_form;
    // maps: the key in fileIndex (whose nodes never move) of each file added.
    std::vector<const std::string*> m_paths;
    // compact: the files and folders in the order they were added, and each folder path's latest
    // record, filed the way directoryIndex would file it so that it is gone through in the same order.
    std::vector<FileInfo> m_files;
    std::vector<Folder> m_folders;
    std::unordered_map<std::string, std::uint32_t> m_folderAt;
    std::map<GroupID, PendingTokens> m_pendingNames;
    std::map<GroupID, PendingTokens> m_pendingKeywords;
};

} // namespace kivo::index

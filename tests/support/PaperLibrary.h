#pragma once

// Libraries on paper for the browser's tests: file records, folder listings by path, and row names.

#include "organise/BrowserTree.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kivo::test {

// A file's record as the index keeps it, named after the last part of its path.
inline index::FileInfo fileInfo(
    const std::string& path, std::optional<std::int64_t> bpm = {}, std::optional<std::string> key = {})
{
    return { index::stableFileID(path), path, path.substr(path.rfind('/') + 1), bpm, std::move(key), {} };
}

// Each folder's sub-folders and files by path. Reads are counted only where asked for, since the
// window reads folders on background threads.
struct PaperLibrary {
    std::map<std::string, organise::FolderContents> folders;
    std::map<std::string, int> reads;

    void folder(
        const std::string& path, std::vector<std::string> subfolders, std::vector<std::string> files = {})
    {
        organise::FolderContents& c = folders[path];
        for (const auto& s : subfolders)
            c.subfolders.push_back(path + "/" + s);
        for (const auto& f : files)
            c.files.push_back(fileInfo(path + "/" + f));
    }
    organise::FolderLoader loader(bool countReads = false)
    {
        return [this, countReads](const std::string& path) {
            if (countReads)
                ++reads[path];
            const auto found = folders.find(path);
            return found == folders.end() ? organise::FolderContents {} : found->second;
        };
    }
    int totalReads() const
    {
        int total = 0;
        for (const auto& read : reads)
            total += read.second;
        return total;
    }
};

template <typename Node> std::vector<std::string> namesOf(const std::vector<Node>& nodes)
{
    std::vector<std::string> out;
    for (const auto& node : nodes)
        out.push_back(node.name);
    return out;
}

} // namespace kivo::test

#pragma once

// What several index tests share: scans with every folder open, a quiet store in a scratch folder, and
// comparisons of whole indexes.

#include "index/IndexStoreScan.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <set>

namespace kivo::index::test {

inline const FolderAccess kOpen { [](const std::string&) { return true; }, [](const std::string&) {} };
inline const MountedVolumes kNoVolumes = [] { return std::set<std::string>(); };

// A full build of `groups` over `maps`, as a scan without a store makes it.
inline IndexMaps scanned(const std::vector<ScanGroup>& groups, IndexMaps maps = {},
    ProgressObserver observer = {}, const FolderAccess& access = kOpen)
{
    FolderScanner scanner({}, std::move(observer), {});
    buildIndex(maps, groups, scanner, access);
    return maps;
}

inline ScanOptions openScan(HeaderReader reader = {})
{
    ScanOptions options;
    options.reader = std::move(reader);
    options.access = kOpen;
    return options;
}

inline CacheIndexStoreOptions quietStore(const kivo::test::ScratchDir& dir)
{
    return { dir.str() + "/SearchIndex.json", [](const std::string&) {}, {} };
}

inline std::vector<std::string> pathsOf(const std::vector<FileInfo>& files)
{
    std::vector<std::string> out;
    for (const auto& f : files)
        out.push_back(f.path);
    return out;
}

template <typename Map> std::set<std::string> keysOf(const Map& map)
{
    std::set<std::string> out;
    for (const auto& [key, value] : map)
        out.insert(key);
    return out;
}

// Records compare by path alone; `exact` also compares every field, and folder lists in walk order
// (else as sets, as a patched index lists what it added last).
inline void expectSameIndex(const IndexMaps& a, const IndexMaps& b, bool exact = true)
{
    EXPECT_EQ(keysOf(a.fileIndex), keysOf(b.fileIndex));
    EXPECT_EQ(keysOf(a.directoryIndex), keysOf(b.directoryIndex));
    EXPECT_EQ(a.searchIndex, b.searchIndex);
    EXPECT_EQ(a.keywordIndex, b.keywordIndex);
    EXPECT_EQ(a.groupRoots, b.groupRoots);
    const auto sameFile = [](const FileInfo& x, const FileInfo& y) {
        EXPECT_EQ(std::tie(x.path, x.id, x.name, x.bpm, x.key, x.duration),
            std::tie(y.path, y.id, y.name, y.bpm, y.key, y.duration))
            << x.path;
    };
    for (const auto& [path, folder] : a.directoryIndex) {
        if (!b.directoryIndex.contains(path))
            continue;
        const DirectoryInfo& other = b.directoryIndex.at(path);
        std::vector<std::string> files, otherFiles;
        for (const auto& f : folder.files)
            files.push_back(f.path);
        for (const auto& f : other.files)
            otherFiles.push_back(f.path);
        if (!exact) {
            EXPECT_EQ(std::set(files.begin(), files.end()), std::set(otherFiles.begin(), otherFiles.end()))
                << path;
            EXPECT_EQ(std::set(folder.subdirectories.begin(), folder.subdirectories.end()),
                std::set(other.subdirectories.begin(), other.subdirectories.end()))
                << path;
            continue;
        }
        EXPECT_EQ(files, otherFiles) << path;
        EXPECT_EQ(folder.subdirectories, other.subdirectories) << path;
        EXPECT_EQ(std::tie(folder.lastModified, folder.contentModified, folder.inode),
            std::tie(other.lastModified, other.contentModified, other.inode))
            << path;
        for (std::size_t i = 0; i < std::min(folder.files.size(), other.files.size()); ++i)
            sameFile(folder.files[i], other.files[i]);
    }
    if (exact)
        for (const auto& [path, file] : a.fileIndex)
            if (b.fileIndex.contains(path))
                sameFile(file, b.fileIndex.at(path));
}

} // namespace kivo::index::test

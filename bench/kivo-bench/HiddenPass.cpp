// 100,000 files in 5,000 folders, 1,000 hidden items (500 folders without sub-folders and 500 files)
// and 200 skipped folders, "Auto-skip nested subfolders" on in both passes. Every folder is loaded
// before the timing; a pass lays out every row of the fully open tree. Each folder is expanded at
// most once and each row asks the marks a fixed number of lookups, so the ratio stays flat however
// large the tree grows.

#include "HiddenPass.h"

#include "BenchLibrary.h"
#include "SampleNames.h"
#include "organise/ExpandedTree.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace kivo::bench {

namespace {

double fastestOf(const std::vector<double>& v)
{
    return *std::min_element(v.begin(), v.end());
}

} // namespace

void reportHiddenPass(std::size_t fileCount, std::size_t folderCount)
{
    Rng rng(23);
    std::vector<std::string> folders { "/home/producer/Samples" };
    std::unordered_map<std::string, organise::FolderContents> contents;
    contents[folders[0]];
    for (std::size_t i = 1; i < folderCount; ++i) {
        const std::string& parent = folders[rng.below(std::min(folders.size(), i / 4 + 1))];
        std::string path = parent + "/Folder " + std::to_string(i);
        contents[parent].subfolders.push_back(path);
        contents[path];
        folders.push_back(std::move(path));
    }
    std::vector<std::string> files;
    for (std::size_t i = 0; i < fileCount; ++i) {
        index::FileInfo f;
        f.name = "Sample " + std::to_string(i) + ".wav";
        f.path = folders[i * folderCount / fileCount] + "/" + f.name;
        f.id = index::stableFileID(f.path);
        files.push_back(f.path);
        contents[folders[i * folderCount / fileCount]].files.push_back(std::move(f));
    }

    organise::HiddenPathSet hidden, skipped;
    std::vector<std::string> leaves;
    for (std::size_t i = 1; i < folders.size(); ++i)
        if (contents[folders[i]].subfolders.empty())
            leaves.push_back(folders[i]);
    while (hidden.size() < std::min<std::size_t>(500, leaves.size()))
        hidden.insert(rng.pick(leaves));
    while (hidden.size() < 1000)
        hidden.insert(rng.pick(files));
    while (skipped.size() < std::min<std::size_t>(200, folders.size() - 1)) {
        const std::string& folder = folders[1 + rng.below(folders.size() - 1)];
        if (!hidden.contains(folder))
            skipped.insert(folder);
    }

    organise::BrowserTree tree([&contents](const std::string& path) {
        const auto found = contents.find(path);
        return found == contents.end() ? organise::FolderContents {} : found->second;
    });
    tree.showCollection("G", { folders[0] });
    organise::loadEverything(tree);

    organise::HiddenView plain;
    plain.skipNestedSubfolders = true;
    organise::HiddenView marked = plain;
    marked.sets = std::make_shared<const organise::HiddenSets>(hidden, skipped, organise::HiddenPathSet {});

    std::vector<double> without, with;
    std::size_t rowsWithout = 0, rowsWith = 0;
    for (int round = 0; round < 15; ++round) {
        tree.setHiddenView(plain);
        without.push_back(cpuSecondsOf([&] { rowsWithout = organise::expandedRows(tree).size(); }));
        tree.setHiddenView(marked);
        with.push_back(cpuSecondsOf([&] { rowsWith = organise::expandedRows(tree).size(); }));
    }
    const double a = fastestOf(without), b = fastestOf(with);
    std::printf("tree: %zu files in %zu folders; %zu hidden (%zu folders), %zu skipped folders\n", fileCount,
        folderCount, hidden.size(), std::min<std::size_t>(500, leaves.size()), skipped.size());
    std::printf("rows without marks: %zu; with marks: %zu\n", rowsWithout, rowsWith);
    std::printf("tree pass without marks ms (fastest of 15): %.2f\n", a * 1e3);
    std::printf("tree pass with marks ms (fastest of 15): %.2f\n", b * 1e3);
    std::printf("hidden ratio: %.3f (target <= 2.0)\n", b / a);
}

} // namespace kivo::bench

// kivo-index tree: a collection's browser tree as the window shows it with every folder open, one
// row per line, two spaces per level; in hide mode each row's marks follow a tab.

#include "common/Subcommand.h"

#include "index/CacheIndexStore.h"
#include "index/MetadataOverrideStore.h"
#include "library/BookmarkGroup.h"
#include "library/UserSettings.h"
#include "organise/ExpandedTree.h"
#include "organise/FolderContents.h"
#include "organise/HiddenFileManager.h"
#include "platform/FolderBookmark.h"
#include "platform/PreferenceStore.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace kivo;

namespace {

constexpr const char* kUsage
    = "tree [--cache FILE] [--prefs FILE] [--collection ID] [--depth N] [--hide-mode] "
      "[--only-hidden]   a collection's browser tree, fully expanded";

int usage()
{
    std::fprintf(stderr, "usage: kivo-index %s\n", kUsage);
    return 2;
}

int treeCommand(const std::vector<std::string>& args)
{
    std::string cache, prefs, collection;
    int depth = 0;
    bool hideMode = false, onlyHidden = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool more = i + 1 < args.size();
        if (args[i] == "--cache" && more)
            cache = args[++i];
        else if (args[i] == "--prefs" && more)
            prefs = args[++i];
        else if (args[i] == "--collection" && more)
            collection = args[++i];
        else if (args[i] == "--depth" && more) {
            char* end = nullptr;
            const long n = std::strtol(args[++i].c_str(), &end, 10);
            if (*end || n < 1)
                return usage();
            depth = int(n);
        } else if (args[i] == "--hide-mode")
            hideMode = true;
        else if (args[i] == "--only-hidden")
            onlyHidden = true;
        else
            return usage();
    }

    // The settings are read from a copy: reading repairs collections in place, and this command
    // never writes the user's file.
    const platform::PreferenceStore original(
        prefs.empty() ? platform::PreferenceStore::defaultFilePath() : QString::fromStdString(prefs));
    QTemporaryDir scratch;
    platform::PreferenceStore copy(scratch.path() + "/Preferences.plist");
    const QVariantMap values = original.snapshot();
    for (auto it = values.begin(); it != values.end(); ++it)
        copy.setValue(it.key(), it.value());
    library::UserSettings settings(copy);
    organise::HiddenFileManager hidden(copy);

    index::CacheIndexStore store(
        { cache, [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, {} });
    const index::DiskSnapshot snapshot = store.loadCache();

    // A collection's roots in the collection's order, else as the cache recorded them.
    auto rootsOf = [&](const std::string& group) {
        std::vector<std::string> roots;
        for (const auto& g : settings.bookmarks()) {
            if (library::canonicalIdText(g.id).toStdString() != group)
                continue;
            for (const QByteArray& bookmark : g.paths) {
                if (const auto resolved = platform::FolderBookmark::resolve(bookmark))
                    roots.push_back(resolved->path.toStdString());
                else if (const auto stored = platform::FolderBookmark::storedPath(bookmark))
                    roots.push_back(stored->toStdString());
            }
        }
        if (const auto found = snapshot.roots.find(group); roots.empty() && found != snapshot.roots.end())
            roots = found->second;
        return roots;
    };
    // The collection named, else the one selected in the settings, else the cache's first.
    std::string group;
    std::vector<std::string> roots;
    if (!collection.empty()) {
        const auto id = index::Uuid::parse(collection);
        if (!id) {
            std::fprintf(stderr, "kivo-index tree: not a collection identifier: %s\n", collection.c_str());
            return 2;
        }
        group = id->text();
        roots = rootsOf(group);
    } else {
        if (const auto id = settings.groupID(settings.selectedGroup())) {
            group = library::canonicalIdText(*id).toStdString();
            roots = rootsOf(group);
        }
        if (roots.empty() && !snapshot.roots.empty()) {
            group = snapshot.roots.begin()->first;
            roots = rootsOf(group);
        }
    }
    if (roots.empty()) {
        std::fprintf(stderr, "kivo-index tree: no such collection, or it has no folders\n");
        return 1;
    }

    organise::PresentationOptions options;
    options.sorting.separateMIDIFiles = settings.separateMIDIFiles();
    options.sorting.sortByBPM = settings.sortByBPM();
    options.sorting.sortRomanNumerals = settings.sortRomanNumerals();
    options.hideFileExtensions = settings.hideFileExtensions();
    organise::BrowserTree tree(
        [&store](const std::string& path) { return organise::indexFolderContents(store, path); }, options);
    if (hideMode)
        hidden.toggleHideMode();
    if (onlyHidden)
        hidden.toggleShowOnlyHidden();
    hidden.setSkipNestedSubfolders(settings.skipNestedSubfolders());
    // Files sort by their effective tempo, the user's corrections included.
    const auto overrides = index::MetadataOverrideStore(copy).snapshot();
    if (!overrides->bpmOverrides.empty() || !overrides->clearedBPMPaths.empty()) {
        organise::BPMOverrides sortBy;
        sortBy.overrideFor = [overrides](const std::string& path) -> std::optional<std::int64_t> {
            const auto it = overrides->bpmOverrides.find(path);
            return it == overrides->bpmOverrides.end() ? std::nullopt
                                                       : std::optional<std::int64_t>(it->second);
        };
        sortBy.isCleared
            = [overrides](const std::string& path) { return overrides->clearedBPMPaths.contains(path); };
        tree.setBPMOverrides(std::move(sortBy));
    }
    tree.setHiddenView(hidden.view());
    tree.showCollection(group, roots);
    organise::loadEverything(tree);
    const bool marks = hidden.isHideModeActive();
    for (const auto& line : organise::expandedRows(tree, depth)) {
        std::string text(std::size_t(line.depth) * 2, ' ');
        text += tree.displayName(line.row.node);
        if (const std::string m = organise::markText(line.row.marks); marks && !m.empty())
            text += "\t" + m;
        std::printf("%s\n", text.c_str());
    }
    return 0;
}

const tools::SubcommandRegistrar registrar("tree", kUsage, treeCommand);

} // namespace

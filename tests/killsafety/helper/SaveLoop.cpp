// kivo-save-loop: starts the way the browser starts with one of its files (which also clears what
// earlier killed saves left behind), checks that the file it finds is whole, prints "ready" and then
// saves the file again and again with a growing generation number until it is killed.
//
//   kivo-save-loop init-cache FILE ROOT     scan ROOT and save the cache once
//   kivo-save-loop cache FILE               generation: the cache's lastUpdate
//   kivo-save-loop init-preferences FILE    a preference file with a large value
//   kivo-save-loop preferences FILE         generation: the "SaveGeneration" key
//   kivo-save-loop init-workspace FOLDER    Preferences.plist and Workspaces/ of a first run
//   kivo-save-loop workspace FOLDER         generation: the active workspace file's "volume"
//
// Exit status 3: the file found at start was not whole.

#include "index/CacheIndexStore.h"
#include "index/IndexStoreScan.h"
#include "library/WorkspaceBackup.h"
#include "library/WorkspaceManager.h"
#include "platform/PreferenceStore.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <string>

using namespace kivo;

namespace {

constexpr int kBrokenFile = 3;
constexpr int kPayloadItems = 2000;

void ready()
{
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

int cache(const std::string& file, const std::string& root)
{
    index::CacheIndexStore store(index::CacheIndexStoreOptions { file, [](const std::string&) {}, {} });
    if (!root.empty()) {
        index::buildIndex(store, { { "5E0A6C1B-0D3F-4C44-9A51-7B2E8F0C1D2A", { root }, {} } }, {});
        store.saveCache(0);
        return 0;
    }
    const index::DiskSnapshot found = store.loadCache();
    if (!found.hasData || !found.lastUpdate)
        return kBrokenFile;
    ready();
    for (double generation = *found.lastUpdate + 1;; ++generation)
        store.saveCache(generation);
}

int preferences(const QString& file, bool init)
{
    platform::PreferenceStore store(file);
    if (init) {
        QVariantList payload;
        for (int i = 0; i < kPayloadItems; ++i)
            payload.append(QStringLiteral("/Samples/Pack %1/Loop %2.wav").arg(i / 100).arg(i));
        store.setValue(QStringLiteral("Payload"), payload);
        store.setValue(QStringLiteral("SaveGeneration"), qint64(0));
        return store.flush() ? 0 : 1;
    }
    const auto generation = store.intValue(QStringLiteral("SaveGeneration"));
    const auto payload = store.arrayValue(QStringLiteral("Payload"));
    if (!store.setAsidePath().isEmpty() || !generation || !payload || payload->size() != kPayloadItems)
        return kBrokenFile;
    ready();
    for (qint64 g = *generation + 1;; ++g) {
        store.setValue(QStringLiteral("SaveGeneration"), g);
        store.flush();
    }
}

int workspace(const QString& folder, bool init)
{
    platform::PreferenceStore store(folder + QStringLiteral("/Preferences.plist"));
    if (init) {
        QVariantList hidden;
        for (int i = 0; i < kPayloadItems; ++i)
            hidden.append(QStringLiteral("/Samples/Pack %1/Hidden %2.wav").arg(i / 100).arg(i));
        store.setValue(QStringLiteral("HiddenFilePaths"), hidden);
        store.setValue(QStringLiteral("volume"), 0.0);
        store.flush();
    }
    library::WorkspaceManagerOptions options;
    options.folder = folder + QStringLiteral("/Workspaces");
    // The disk work runs in place: this process does nothing else meanwhile.
    options.background = [](library::WorkspaceJob job) {
        if (auto then = job())
            then();
    };
    options.exists = [](const QString&) { return true; };
    library::WorkspaceManager manager(store, std::move(options));
    if (init)
        return 0;
    const QString path = manager.filePath(manager.activeID());
    QFile file(path);
    const auto values = file.open(QIODevice::ReadOnly) ? library::parseBackup(file.readAll()) : std::nullopt;
    if (!values || !values->contains(QStringLiteral("volume")))
        return kBrokenFile;
    ready();
    for (double generation = values->value(QStringLiteral("volume")).toDouble() + 1;; ++generation) {
        store.setValue(QStringLiteral("volume"), generation);
        manager.exportTo(path, {});
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc >= 3 ? argv[1] : "";
    const std::string file = argc >= 3 ? argv[2] : "";
    const QString qfile = QFile::decodeName(file.c_str());
    if (mode == "init-cache" && argc == 4)
        return cache(file, argv[3]);
    if (mode == "cache")
        return cache(file, {});
    if (mode == "init-preferences" || mode == "preferences")
        return preferences(qfile, mode == "init-preferences");
    if (mode == "init-workspace" || mode == "workspace")
        return workspace(qfile, mode == "init-workspace");
    std::fprintf(stderr, "usage: kivo-save-loop [init-]cache|preferences|workspace FILE [ROOT]\n");
    return 2;
}

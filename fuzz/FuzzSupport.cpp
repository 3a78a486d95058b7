#include "FuzzSupport.h"

#include "index/MetadataOverrideStore.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"
#include "platform/PreferenceStore.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace kivo::fuzz {

namespace {

std::string& folder()
{
    static std::string path;
    return path;
}

void removeFolder()
{
    std::error_code ignored;
    if (!folder().empty())
        std::filesystem::remove_all(folder(), ignored);
}

} // namespace

void initialize()
{
    if (!folder().empty())
        return;
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/kivo-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("kivo-fuzz: scratch folder");
        std::abort();
    }
    folder() = pattern;
    std::atexit(removeFolder);
    // Nothing a reader or manager does may reach the user's own folders.
    ::setenv("XDG_CONFIG_HOME", (pattern + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (pattern + "/data").c_str(), 1);
    ::setenv("HOME", (pattern + "/home").c_str(), 1);
    static int argc = 1;
    static char name[] = "kivo-fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
}

const std::string& scratchFolder()
{
    return folder();
}

std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    const std::string path = folder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    out.close();
    if (!out) {
        std::perror("kivo-fuzz: scratch file");
        std::abort();
    }
    return path;
}

void clearScratchFolder()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

void readManagedValues(platform::PreferenceStore& store)
{
    library::UserSettings settings(store);
    (void)settings.hasAnyPaths();
    (void)settings.selectedGroupPaths();
    library::SyncSettings sync(store);
    organise::TagStore tags(store);
    organise::HiddenFileManager hidden(store);
    (void)hidden.view();
    index::MetadataOverrideStore overrides(store);
}

} // namespace kivo::fuzz

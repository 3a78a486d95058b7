#include "platform/ResourceFolder.h"

namespace kivo::platform {

namespace fs = std::filesystem;

namespace {
// Executables in a build tree sit a few folders below its root (src/app, tests, tools/x).
constexpr int kBuildTreeDepth = 4;
} // namespace

std::optional<fs::path> resourceFolderBeside(const fs::path& executableFolder)
{
    std::error_code ec;
    fs::path installed = executableFolder / ".." / "share" / "kivo-browser";
    if (fs::is_directory(installed, ec)) {
        fs::path tidy = fs::weakly_canonical(installed, ec);
        return ec ? installed : tidy;
    }
    // A build tree is recognised by its cache file, so a stray "resources" folder elsewhere
    // on the way up is never taken.
    fs::path dir = executableFolder;
    for (int i = 0; i <= kBuildTreeDepth && !dir.empty(); ++i) {
        if (fs::is_regular_file(dir / "CMakeCache.txt", ec) && fs::is_directory(dir / "resources", ec))
            return dir / "resources";
        if (dir == dir.parent_path())
            break;
        dir = dir.parent_path();
    }
    return std::nullopt;
}

std::optional<fs::path> applicationResourceFolder()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return std::nullopt;
    return resourceFolderBeside(exe.parent_path());
}

} // namespace kivo::platform

// A save killed (SIGKILL) at a random moment leaves the old file or the new one, whole and loadable,
// never neither; the temporary it leaves is removed by the next start. The cache, the preference
// file and a workspace file, 200 kills each, through kivo-save-loop.

#include "index/CacheFile.h"
#include "library/WorkspaceBackup.h"
#include "platform/PropertyList.h"
#include "platform/StaleTemporaries.h"
#include "support/ReadFile.h"
#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kKills = 200;

// A started helper: its pid and the read end of its standard output.
struct Helper {
    pid_t pid = -1;
    int out = -1;
};

Helper start(const std::vector<std::string>& args)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        std::vector<char*> argv { const_cast<char*>(KIVO_SAVE_LOOP) };
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    return { pid, fds[0] };
}

int waitExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int runToEnd(const std::vector<std::string>& args)
{
    const Helper h = start(args);
    ::close(h.out);
    return waitExit(h.pid);
}

// True once the helper printed "ready"; false when it ended first or took more than 60 s.
bool waitReady(const Helper& h)
{
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (seen.find("ready\n") == std::string::npos) {
        pollfd p { h.out, POLLIN, 0 };
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
            return false;
        char buffer[64];
        const ssize_t n = ::read(h.out, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        seen.append(buffer, std::size_t(n));
    }
    return true;
}

// The temporaries of `file` beside it ("<name>.XXXXXX", as the atomic writes name them).
std::vector<std::string> temporariesOf(const std::string& file)
{
    const std::filesystem::path path(file);
    const std::string prefix = path.filename().string() + ".";
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(path.parent_path()))
        if (const std::string name = e.path().filename();
            name.size() == prefix.size() + 6 && name.starts_with(prefix))
            found.push_back(e.path());
    return found;
}

// The generation of a whole, loadable file; none for anything else.
using Loader = std::function<std::optional<double>(const std::string& path)>;

struct KillRun {
    int temporariesLeft = 0; // kills that landed while a temporary was being written
    int generationsSeen = 0; // kills after which the file had moved on
};

// Starts the helper, kills it at a random moment of its save loop, checks the file and the
// temporaries, and backdates what was left so that the next start must remove it.
void killRepeatedly(const std::string& mode, const std::string& arg, const std::string& file,
    const Loader& load, KillRun& run)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> delayMicros(0, 20'000);
    std::optional<double> previous = load(file);
    ASSERT_TRUE(previous) << "the first file is not loadable";
    std::vector<std::string> leftBehind;
    for (int i = 0; i < kKills; ++i) {
        const Helper h = start({ mode, arg });
        ASSERT_GT(h.pid, 0);
        if (!waitReady(h)) {
            ::kill(h.pid, SIGKILL);
            const int status = waitExit(h.pid);
            ::close(h.out);
            FAIL() << mode << ": the helper did not start after kill " << i << " (exit " << status
                   << (status == 3 ? ": the file it found was not whole)" : ")");
        }
        for (const auto& t : leftBehind)
            EXPECT_NE(::access(t.c_str(), F_OK), 0) << mode << ": start " << i << " kept " << t;
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        ::kill(h.pid, SIGKILL);
        EXPECT_EQ(waitExit(h.pid), 128 + SIGKILL);
        ::close(h.out);

        const std::optional<double> now = load(file);
        ASSERT_TRUE(now) << mode << ": after kill " << i << " the file is neither the old nor the new one";
        EXPECT_GE(*now, *previous) << mode << ": an older generation came back";
        run.generationsSeen += *now > *previous;
        previous = now;

        leftBehind = temporariesOf(file);
        run.temporariesLeft += !leftBehind.empty();
        const std::time_t longAgo = std::time(nullptr) - kivo::platform::kStaleTemporaryAge.count() - 60;
        for (const auto& t : leftBehind) {
            const timespec times[2] = { { longAgo, 0 }, { longAgo, 0 } };
            ::utimensat(AT_FDCWD, t.c_str(), times, 0);
        }
    }
    EXPECT_GT(run.generationsSeen, 0) << mode << ": no save finished between the kills";
    std::printf("%s: %d kills, %d left a temporary, the file moved on after %d, generation %.0f\n",
        mode.c_str(), kKills, run.temporariesLeft, run.generationsSeen, *previous);
}

} // namespace

TEST(KillSafety, CacheSaveKilledLeavesAWholeCache)
{
    kivo::test::ScratchDir dir;
    // A library of 1,000 files in 40 folders: a cache file of a few hundred kilobytes.
    for (int f = 0; f < 40; ++f)
        for (int i = 0; i < 25; ++i)
            dir.write("Library/Pack " + std::to_string(f) + "/Loop " + std::to_string(i) + " 120bpm Am.wav");
    const std::string cache = dir.str() + "/SearchIndex.json";
    ASSERT_EQ(runToEnd({ "init-cache", cache, dir.str() + "/Library" }), 0);
    const Loader load = [](const std::string& path) -> std::optional<double> {
        try {
            const auto data = kivo::index::decodeCacheFile(path);
            if (data.index.fileCount != 1000)
                return std::nullopt;
            return data.lastUpdate;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    KillRun run;
    killRepeatedly("cache", cache, cache, load, run);
    EXPECT_GT(run.temporariesLeft, 0) << "no kill landed inside a save";
}

TEST(KillSafety, PreferenceSaveKilledLeavesAWholeFile)
{
    kivo::test::ScratchDir dir;
    const std::string file = dir.str() + "/Preferences.plist";
    ASSERT_EQ(runToEnd({ "init-preferences", file }), 0);
    const Loader load = [](const std::string& path) -> std::optional<double> {
        const auto root
            = kivo::platform::decodeBinaryPlist(QByteArray::fromStdString(kivo::test::readFile(path)));
        if (!root || root->typeId() != QMetaType::QVariantMap)
            return std::nullopt;
        const QVariantMap map = root->toMap();
        if (map.value(QStringLiteral("Payload")).toList().size() != 2000)
            return std::nullopt;
        return double(map.value(QStringLiteral("SaveGeneration")).toLongLong());
    };
    KillRun run;
    killRepeatedly("preferences", file, file, load, run);
}

TEST(KillSafety, WorkspaceSaveKilledLeavesAWholeWorkspaceFile)
{
    kivo::test::ScratchDir dir;
    ASSERT_EQ(runToEnd({ "init-workspace", dir.str() }), 0);
    std::string file;
    for (const auto& e : std::filesystem::directory_iterator(dir.str() + "/Workspaces"))
        if (e.path().extension() == ".kivo")
            file = e.path();
    ASSERT_FALSE(file.empty()) << "the first run wrote no workspace file";
    const Loader load = [](const std::string& path) -> std::optional<double> {
        const auto values = kivo::library::parseBackup(QByteArray::fromStdString(kivo::test::readFile(path)));
        if (!values || values->value(QStringLiteral("HiddenFilePaths")).toList().size() != 2000)
            return std::nullopt;
        return values->value(QStringLiteral("volume")).toDouble();
    };
    KillRun run;
    killRepeatedly("workspace", dir.str(), file, load, run);
}

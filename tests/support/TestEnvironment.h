#pragma once

#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <string>

namespace kivo::test {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at a private temporary folder so a test
// run never reads or writes the user's real preferences or cache. Called by both
// test mains before any application object exists.
void isolateUserFolders();

// Runs the event loop a few turns, so that queued calls and the replies they queue land.
void settle(int turns = 10);

// Runs the event loop until `done` holds or `ms` have passed; answers whether it holds.
bool waitFor(const std::function<bool()>& done, int ms = 10000);

// Runs a shell command, its output thrown away; true when it exits 0.
bool shell(const std::string& command);

// What a program printed on its standard output, and its exit status.
struct ToolRun {
    int status = -1;
    std::string out;
};
// Runs a program of the build tree (`tool`, below the build folder, e.g. "tools/kivo-index/kivo-index")
// as a user would, with `args` already quoted for the shell (redirections included).
ToolRun runTool(const std::string& tool, const std::string& args);
// Runs the built kivo-render with `args` (already quoted for the shell); stdout and stderr together.
inline ToolRun runRender(const std::string& args)
{
    return runTool("tools/kivo-render/kivo-render", args + " 2>&1");
}

// A fresh empty folder for one test, removed when it goes out of scope.
class ScratchDir {
public:
    ScratchDir();
    QString path() const { return m_dir.path(); }
    std::string str() const { return m_dir.path().toStdString(); }
    // Creates parent folders as needed and writes the bytes; returns the full path.
    std::string write(const std::string& relative, const std::string& bytes = {}) const;
    std::string mkdir(const std::string& relative) const;
    // An audio file made by sox from nothing: `effect` follows "sox -n -r RATE -c CHANNELS FILE",
    // e.g. "synth 1 sine 440". Returns the full path.
    std::string tone(
        const std::string& relative, const std::string& effect, int rate = 48000, int channels = 2) const;

private:
    QTemporaryDir m_dir;
};

} // namespace kivo::test

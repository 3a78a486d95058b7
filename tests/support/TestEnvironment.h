#pragma once

#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace kivo::test {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at a private temporary folder so a test
// run never reads or writes the user's real preferences or cache. Called by both
// test mains before any application object exists.
void isolateUserFolders();

// Runs the event loop a few turns, so that queued calls and the replies they queue land.
void settle(int turns = 10);

// Runs the event loop until `done` holds or `ms` have passed; answers whether it holds.
bool waitFor(const std::function<bool()>& done, int ms = 10000);

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

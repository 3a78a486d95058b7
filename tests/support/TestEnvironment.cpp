#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

namespace kivo::test {

void isolateUserFolders()
{
    static QTemporaryDir home;
    const QString root = home.path();
    QDir().mkpath(root + "/config");
    QDir().mkpath(root + "/data");
    setenv("XDG_CONFIG_HOME", (root + "/config").toUtf8().constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").toUtf8().constData(), 1);
}

void settle(int turns)
{
    for (int i = 0; i < turns; ++i)
        QCoreApplication::processEvents();
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

bool shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

ToolRun runTool(const std::string& tool, const std::string& args)
{
    ToolRun run;
    const std::string command = "'" KIVO_BINARY_DIR "/" + tool + "' " + args;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ScratchDir::ScratchDir()
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

std::string ScratchDir::write(const std::string& relative, const std::string& bytes) const
{
    const QString full = m_dir.filePath(QString::fromStdString(relative));
    QDir().mkpath(QFileInfo(full).path());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + full.toStdString());
    f.write(bytes.data(), qint64(bytes.size()));
    return full.toStdString();
}

std::string ScratchDir::mkdir(const std::string& relative) const
{
    const QString full = m_dir.filePath(QString::fromStdString(relative));
    QDir().mkpath(full);
    return full.toStdString();
}

std::string ScratchDir::tone(
    const std::string& relative, const std::string& effect, int rate, int channels) const
{
    const std::string full = write(relative);
    const std::string command = "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " '"
        + full + "' " + effect + " 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("sox could not make " + full);
    return full;
}

} // namespace kivo::test

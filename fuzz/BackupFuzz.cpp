// Importing a workspace backup (binary or XML property list): a file that passes the check is
// applied to a store exactly as parsed and read by every manager, as an import or a workspace switch
// does; what was accepted must survive being written out and checked again.

#include "FuzzSupport.h"

#include "library/WorkspaceBackup.h"
#include "platform/PreferenceStore.h"

#include <QFile>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kivo;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto values = library::parseBackup(bytes);
    if (!values)
        return 0;
    {
        const std::string path = fuzz::scratchFolder() + "/Preferences.plist";
        platform::PreferenceStore store(QFile::decodeName(path.c_str()));
        store.setValue("WorkspaceRegistry", QByteArray("[]"));
        library::applyBackupValues(store, *values);
        // Applied exactly as parsed, and only the managed keys: the workspace list stays.
        if (library::backupValues(store) != *values || store.dataValue("WorkspaceRegistry") != "[]")
            std::abort();
        fuzz::readManagedValues(store);
        const auto written = library::snapshot(store, [](const QString&) { return true; });
        if (!written || !library::isValidBackup(*written))
            std::abort();
    }
    fuzz::clearScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kivo::fuzz::initialize();
    return 0;
}

// The preference file as the browser reads it at start: the store opens the file (setting a damaged
// one aside) and every manager reads its keys from it, whatever types and values they hold.

#include "FuzzSupport.h"

#include "platform/PreferenceStore.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = kivo::fuzz::writeScratchFile("Preferences.plist", data, size);
    {
        kivo::platform::PreferenceStore store(QFile::decodeName(path.c_str()));
        kivo::fuzz::readManagedValues(store);
    }
    kivo::fuzz::clearScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kivo::fuzz::initialize();
    return 0;
}

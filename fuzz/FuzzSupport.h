#pragma once

// What the fuzz targets share: a private scratch folder for the readers that take a path, and the
// managers that read their values out of a preference store, as the browser builds them at start.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::fuzz {

// A folder of this process's own (under /dev/shm when there is one), removed at exit; the user
// folders point into it so nothing a reader does touches the real ones. Also makes the
// QCoreApplication the managers need. Call once, from LLVMFuzzerInitialize.
void initialize();
const std::string& scratchFolder();

// Writes `data` to `name` inside the scratch folder and returns the file's path.
std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);
// Empties the scratch folder (files set aside by the store included).
void clearScratchFolder();

// Builds every manager that reads the store (settings, collections, sync settings, tags, hidden
// items, tempo and key corrections) and asks each for what the browser asks at start.
void readManagedValues(platform::PreferenceStore& store);

} // namespace kivo::fuzz

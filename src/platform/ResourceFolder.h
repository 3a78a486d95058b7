#pragma once

// Where the shipped resources (the "SoundFonts" and "ChordTriads" folders) are: beside the
// executable, in ../share/kivo-browser/ once installed, or in the build tree's resources/ when
// the program runs from the build.

#include <filesystem>
#include <optional>

namespace kivo::platform {

// None when the program has no resource folder.
std::optional<std::filesystem::path> applicationResourceFolder();

// The same search starting from a given executable's folder.
std::optional<std::filesystem::path> resourceFolderBeside(const std::filesystem::path& executableFolder);

} // namespace kivo::platform

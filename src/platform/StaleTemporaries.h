#pragma once

// Atomic writes go through "<file>.XXXXXX" (six letters or digits) beside the file and rename it
// over the file at the end; a process killed in between leaves the temporary behind, and a cache
// save's can be tens of megabytes. Nothing else of ours is named that way.

#include <chrono>
#include <string>

namespace kivo::platform {

// Longer than any write of ours takes between two writes to its temporary, so a save running in
// another process right now is never touched.
constexpr std::chrono::seconds kStaleTemporaryAge { 600 };

// Removes the temporaries of `filePath` that nothing has written to for `minAge`; returns how
// many went. Plain files only; a folder that cannot be read removes nothing.
int removeStaleTemporaries(const std::string& filePath, std::chrono::seconds minAge = kStaleTemporaryAge);

} // namespace kivo::platform

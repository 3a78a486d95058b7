#pragma once

// The chord bank's table: for a key, which shipped MIDI file plays each of the degrees I to VII.
// The files sit in the resource folder's "ChordTriads", one folder per key, each named from its
// degree's numeral, " - " and free text. Pure apart from listing that one folder.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kivo::hotkeys {

struct Triad {
    std::string roman; // the numeral as the file name writes it ("ii", "vii°"); empty without a file
    std::optional<std::filesystem::path> url;
    bool operator==(const Triad&) const = default;
};

namespace ChordTriads {

// Seven triads for degrees I to VII, or none at all when there is no resource folder or the
// key's folder cannot be listed. The pitch class is taken modulo 12.
std::vector<Triad> build(
    int pitchClass, bool isMinor, const std::optional<std::filesystem::path>& resourceFolder);

// The degree 1 to 7 a triad file's name stands for, and its numeral as written; none when the
// name does not begin with one of the seven numerals.
std::optional<std::pair<int, std::string>> degreeOfFileName(const std::string& fileName);

} // namespace ChordTriads

} // namespace kivo::hotkeys

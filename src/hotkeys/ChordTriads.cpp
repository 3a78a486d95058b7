#include "hotkeys/ChordTriads.h"

#include "music/DiatonicTriads.h"

#include <algorithm>
#include <cctype>

namespace kivo::hotkeys::ChordTriads {

namespace {
const std::string kSeparator = " - ";
const std::string kDegreeSign = "\u00B0";
} // namespace

std::optional<std::pair<int, std::string>> degreeOfFileName(const std::string& fileName)
{
    const auto dot = fileName.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
    std::transform(
        ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext != "mid")
        return std::nullopt;
    const std::string stem = fileName.substr(0, dot);
    const auto separator = stem.find(kSeparator);
    const std::string numeral = separator == std::string::npos ? stem : stem.substr(0, separator);
    std::string bare;
    for (std::size_t i = 0; i < numeral.size();) {
        if (numeral.compare(i, kDegreeSign.size(), kDegreeSign) == 0) {
            i += kDegreeSign.size();
            continue;
        }
        bare += char(std::toupper(static_cast<unsigned char>(numeral[i])));
        ++i;
    }
    const int degree = music::degreeOfNumeral(bare);
    if (degree == 0)
        return std::nullopt;
    return std::make_pair(degree, numeral);
}

std::vector<Triad> build(
    int pitchClass, bool isMinor, const std::optional<std::filesystem::path>& resourceFolder)
{
    if (!resourceFolder)
        return {};
    const auto folder = *resourceFolder / "ChordTriads" / music::chordKeyFolder(pitchClass, isMinor);
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return {};
    std::vector<Triad> out(7);
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            return {};
        const auto found = degreeOfFileName(it->path().filename().string());
        if (found)
            out[std::size_t(found->first - 1)] = Triad { found->second, it->path() };
    }
    return out;
}

} // namespace kivo::hotkeys::ChordTriads

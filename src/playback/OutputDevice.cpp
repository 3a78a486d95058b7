#include "OutputDevice.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace kivo::playback {

namespace {
std::string quoted(const std::string& name)
{
    return "\u201c" + name + "\u201d";
}
std::string fallback(bool silent)
{
    return silent ? ": no sound until an output device is back" : ": playing through the default output";
}
} // namespace

OutputChoice OutputChoice::normalised() const
{
    OutputChoice out = *this;
    if (out.device.empty())
        out.hostApi.clear();
    out.bufferFrames = *std::min_element(std::begin(kBufferSizes), std::end(kBufferSizes),
        [this](int a, int b) { return std::abs(a - bufferFrames) < std::abs(b - bufferFrames); });
    if (std::find(std::begin(kSampleRates), std::end(kSampleRates), sampleRate) == std::end(kSampleRates))
        out.sampleRate = 0;
    return out;
}

std::string withoutCardNumber(const std::string& name)
{
    const auto open = name.rfind(" (hw:");
    if (open == std::string::npos || name.empty() || name.back() != ')')
        return name;
    return name.substr(0, open);
}

OutputResolution resolveOutput(
    const std::vector<OutputDevice>& devices, int defaultIndex, const OutputChoice& choice)
{
    OutputResolution out;
    out.index = defaultIndex >= 0 && defaultIndex < int(devices.size()) ? defaultIndex : -1;
    if (choice.isSystemDefault())
        return out;
    auto find = [&](auto same) {
        auto it = std::find_if(devices.begin(), devices.end(), [&](const OutputDevice& d) {
            return d.maxChannels > 0 && d.hostApi == choice.hostApi && same(d.name);
        });
        return it == devices.end() ? -1 : int(it - devices.begin());
    };
    int found = find([&](const std::string& name) { return name == choice.device; });
    if (found < 0) {
        const std::string bare = withoutCardNumber(choice.device);
        found = find([&](const std::string& name) { return withoutCardNumber(name) == bare; });
    }
    if (found >= 0) {
        out.index = found;
        return out;
    }
    out.missing = true;
    return out;
}

std::string deviceMissingMessage(const OutputChoice& choice, bool silent)
{
    return quoted(choice.device) + " is not available" + fallback(silent);
}

std::string deviceFailedMessage(const OutputChoice& choice, int rate, bool silent)
{
    return quoted(choice.device) + " would not open at " + std::to_string(rate) + " Hz with "
        + std::to_string(choice.bufferFrames) + " frames" + fallback(silent);
}

std::string deviceLostMessage(const std::string& name, bool silent)
{
    return quoted(name) + " was disconnected" + fallback(silent);
}

} // namespace kivo::playback

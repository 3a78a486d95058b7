#pragma once

// The output device the user picks: PortAudio's devices as the settings list them, the choice that
// is remembered, and how a remembered choice is matched against the devices present now. Pure: the
// PortAudio side lives in AudioOutput.

#include <string>
#include <vector>

namespace kivo::playback {

struct OutputDevice {
    std::string hostApi; // "ALSA", "JACK Audio Connection Kit", ...
    std::string name;
    int maxChannels = 0;
    double defaultRate = 0;
    bool isDefault = false; // the host's default output (the system default when on the default host)

    bool operator==(const OutputDevice&) const = default;
};

struct OutputChoice {
    static constexpr int kDefaultBufferFrames = 256;
    // Powers of two: PortAudio's hosts (JACK above all) prefer them.
    static constexpr int kBufferSizes[] = { 64, 128, 256, 512, 1024, 2048 };
    // 0 takes the device's own rate (the only one a JACK server accepts).
    static constexpr int kSampleRates[] = { 0, 44100, 48000, 88200, 96000 };

    std::string hostApi; // empty with an empty device: the system default output
    std::string device;
    int bufferFrames = kDefaultBufferFrames;
    int sampleRate = 0;

    bool isSystemDefault() const { return device.empty(); }
    // Sizes snapped to the nearest offered one; an unknown rate becomes the device's own.
    OutputChoice normalised() const;
    bool operator==(const OutputChoice&) const = default;
};

// Where a choice lands among the devices present: an index into them (-1 for none at all), and
// whether that is the chosen device (a missing one lands on the default).
struct OutputResolution {
    int index = -1;
    bool missing = false;
};

// `defaultIndex` is the system default output among `devices` (-1 when there is none). ALSA's device
// names end in a card number ("(hw:1,0)") that can change between starts: a remembered name matches
// a present one with another number when nothing matches exactly.
OutputResolution resolveOutput(
    const std::vector<OutputDevice>& devices, int defaultIndex, const OutputChoice& choice);

// What the output is doing now, for the settings and the preview strip.
struct OutputStatus {
    bool device = false; // false: no device open (stopped, or keeping time silently)
    std::string hostApi;
    std::string name;
    int rate = 0;
    int bufferFrames = 0;
    std::string message; // why this is not the chosen device; empty when it is
};

// The strip's sentences when the chosen device is missing, stops or will not open; `silent` when
// there is no default output to fall back to either.
std::string deviceMissingMessage(const OutputChoice& choice, bool silent);
std::string deviceFailedMessage(const OutputChoice& choice, int rate, bool silent);
std::string deviceLostMessage(const std::string& name, bool silent);

// "Scarlett 2i2 (hw:1,0)" -> "Scarlett 2i2".
std::string withoutCardNumber(const std::string& name);

} // namespace kivo::playback

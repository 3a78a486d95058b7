#pragma once

// The output device choice in the preference store, under keys of the browser's own: they belong
// to this machine's sound set-up, so workspaces neither store nor replace them.

#include "OutputDevice.h"

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::playback {

inline constexpr char kOutputHostAPIKey[] = "outputDeviceHostAPI";
inline constexpr char kOutputDeviceKey[] = "outputDeviceName";
inline constexpr char kOutputBufferFramesKey[] = "outputBufferFrames";
inline constexpr char kOutputSampleRateKey[] = "outputSampleRate";

// Missing or damaged values read as the defaults (the system default device, 256 frames, the
// device's own rate); sizes and rates are brought to the offered ones.
OutputChoice loadOutputChoice(const platform::PreferenceStore& store);
void storeOutputChoice(platform::PreferenceStore& store, const OutputChoice& choice);

} // namespace kivo::playback

#pragma once

// The sound system under the engine's output: PortAudio in the program, a stand-in in tests, so
// that devices coming and going can be tried without hardware. Every call comes from the output's
// device thread, one at a time.

#include "OutputDevice.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kivo::playback {

class OutputBackend {
public:
    // Runs on the stream's own thread; it must be real-time safe.
    using Render = std::function<void(float* stereo, int frames)>;
    // The stream ended by itself (its device went away).
    using Finished = std::function<void()>;

    virtual ~OutputBackend() = default;

    // Looks for devices afresh, closing the open stream first; false when the sound system is not
    // usable at all.
    virtual bool refresh() = 0;
    // The output devices found by the last refresh; `defaultIndex` is the default one among them
    // (-1 when there is none).
    virtual std::vector<OutputDevice> devices(int& defaultIndex) = 0;
    // Opens and starts device `index` of devices() at `rate` in blocks of `bufferFrames`; false when it
    // will not open so.
    virtual bool open(int index, int rate, int bufferFrames, Render render, Finished finished) = 0;
    virtual void close() = 0;
    // The open stream still runs.
    virtual bool streamActive() = 0;
    // Devices may have come or gone since the last refresh: a cheap look that does not disturb the
    // open stream (a refresh would).
    virtual bool devicesMayHaveChanged() = 0;
};

// PortAudio's devices; devices that come and go are noticed through the sound card nodes.
std::unique_ptr<OutputBackend> makePortAudioBackend();

} // namespace kivo::playback

#pragma once

// kivo-render FILE --waveform N
// kivo-render FILE --waveform-png OUT.png --size WxH [--scale S]

namespace kivo::tools {

// True when the arguments ask for a waveform rather than a render.
bool asksForWaveform(int argc, char** argv);
// The process exit status: 0 done, 1 the file could not be analysed or written, 2 a usage error.
int waveformMain(int argc, char** argv);

} // namespace kivo::tools

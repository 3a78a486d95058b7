#pragma once

// Draws a file's waveform into an image: asks the analyzer for one value per pixel column and
// paints them with a renderer. Safe to use off the main thread (it paints into a QImage only).

#include "waveform/WaveformAnalyzer.h"
#include "waveform/WaveformRenderer.h"

#include <QImage>

#include <string>
#include <variant>

namespace kivo::waveform {

// The image has no pixels to draw into.
struct GenerationError {
    std::string description() const { return "generic"; }
};

struct WaveformImageResult {
    QImage image;
    std::variant<std::monostate, AnalyzeError, GenerationError> error;

    bool ok() const { return std::holds_alternative<std::monostate>(error); }
    bool cancelled() const;
    std::string errorDescription() const;
};

class WaveformImageDrawer {
public:
    // With fewer values than pixel columns, the columns to the left draw as silence.
    bool shouldDrawSilencePadding = false;
    // Sample offset that keeps stripes aligned while a live waveform grows.
    int lastOffset = 0;
    // The number of values in the last image drawn.
    int lastSampleCount = 0;

    // The image of the file at `path`, `configuration.size` points at `configuration.scale`.
    WaveformImageResult waveformImage(const std::string& path, const Waveform::Configuration& configuration,
        const WaveformRenderer& renderer, Waveform::Position position,
        const WaveformAnalyzer::CancelCheck& cancelled = {});
    // The image of values already known.
    QImage waveformImage(const std::vector<float>& samples, const Waveform::Configuration& configuration,
        const WaveformRenderer& renderer, Waveform::Position position);
};

} // namespace kivo::waveform

#include "waveform/WaveformImageDrawer.h"

#include <QPainter>

namespace kivo::waveform {

bool WaveformImageResult::cancelled() const
{
    const auto* e = std::get_if<AnalyzeError>(&error);
    return e && e->kind == AnalyzeError::Kind::readerError && e->status == ReaderStatus::cancelled;
}

std::string WaveformImageResult::errorDescription() const
{
    if (const auto* e = std::get_if<AnalyzeError>(&error))
        return e->description();
    if (const auto* e = std::get_if<GenerationError>(&error))
        return e->description();
    return {};
}

WaveformImageResult WaveformImageDrawer::waveformImage(const std::string& path,
    const Waveform::Configuration& configuration, const WaveformRenderer& renderer,
    Waveform::Position position, const WaveformAnalyzer::CancelCheck& cancelled)
{
    WaveformImageResult result;
    const int columns = configuration.pixelWidth();
    if (columns < 1 || configuration.pixelHeight() < 1) {
        result.error = GenerationError {};
        return result;
    }
    WaveformAnalyzer analyzer;
    AnalyzeResult analysis = analyzer.samples(path, columns, cancelled);
    if (!analysis.ok()) {
        result.error = std::move(*analysis.error);
        return result;
    }
    result.image = waveformImage(analysis.values, configuration, renderer, position);
    if (result.image.isNull())
        result.error = GenerationError {};
    return result;
}

QImage WaveformImageDrawer::waveformImage(const std::vector<float>& samples,
    const Waveform::Configuration& configuration, const WaveformRenderer& renderer,
    Waveform::Position position)
{
    const int width = configuration.pixelWidth();
    const int height = configuration.pixelHeight();
    if (width < 1 || height < 1)
        return {};
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(configuration.scale > 0 ? configuration.scale : 1);
    image.fill(configuration.backgroundColor);
    std::vector<float> padded;
    const std::vector<float>* drawn = &samples;
    if (shouldDrawSilencePadding && int(samples.size()) < width) {
        padded.assign(std::size_t(width) - samples.size(), 1.0f);
        padded.insert(padded.end(), samples.begin(), samples.end());
        drawn = &padded;
    }
    QPainter painter(&image);
    renderer.render(*drawn, painter, configuration, lastOffset, position);
    painter.end();
    lastSampleCount = int(samples.size());
    return image;
}

} // namespace kivo::waveform

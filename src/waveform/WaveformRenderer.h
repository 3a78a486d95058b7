#pragma once

// Renderers turn waveform values (0 loud ... 1 silent, one per pixel column) into a path and
// paint it in the configuration's style. Drawing happens in points; the painter's device carries
// the pixel scale.

#include "waveform/WaveformConfiguration.h"

#include <QPainterPath>

#include <vector>

class QPainter;

namespace kivo::waveform {

class WaveformRenderer {
public:
    virtual ~WaveformRenderer() = default;
    // `lastOffset` keeps stripes in place while a live waveform grows.
    virtual QPainterPath path(const std::vector<float>& samples, const Waveform::Configuration& configuration,
        int lastOffset, Waveform::Position position) const = 0;
    virtual void render(const std::vector<float>& samples, QPainter& context,
        const Waveform::Configuration& configuration, int lastOffset, Waveform::Position position) const = 0;
};

// One vertical line per value, centred on the axis; fewer values than pixels sit at the right.
class LinearWaveformRenderer : public WaveformRenderer {
public:
    QPainterPath path(const std::vector<float>& samples, const Waveform::Configuration& configuration,
        int lastOffset, Waveform::Position position) const override;
    void render(const std::vector<float>& samples, QPainter& context,
        const Waveform::Configuration& configuration, int lastOffset,
        Waveform::Position position) const override;
    // The filled outline of the lines: along the tops left to right, back along the bottoms.
    QPainterPath envelope(const std::vector<float>& samples, const Waveform::Configuration& configuration,
        Waveform::Position position) const;
};

// The values around a circle, clockwise from twelve o'clock: a `circle` grows from the centre, a
// `ring` from an inner radius of `ringSize` times the outer one.
class CircularWaveformRenderer : public WaveformRenderer {
public:
    enum class Kind { circle, ring };
    explicit CircularWaveformRenderer(Kind kind = Kind::circle, double ringSize = 0.5);

    QPainterPath path(const std::vector<float>& samples, const Waveform::Configuration& configuration,
        int lastOffset, Waveform::Position position) const override;
    void render(const std::vector<float>& samples, QPainter& context,
        const Waveform::Configuration& configuration, int lastOffset,
        Waveform::Position position) const override;

private:
    Kind m_kind;
    double m_ringSize;
};

// Paints `path` in `style`: line styles stroke the path, outline styles stroke `outline`.
void paintStyle(QPainter& context, const QPainterPath& path, const QPainterPath& outline,
    const Waveform::Configuration& configuration, const QRectF& area);

} // namespace kivo::waveform

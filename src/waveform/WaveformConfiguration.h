#pragma once

// How a waveform image looks: its size and scale, the colours and style of its lines, where its
// axis lies and how its ends fade.

#include <QColor>
#include <QSizeF>

#include <functional>
#include <optional>
#include <variant>
#include <vector>

namespace kivo::waveform {

struct Waveform {
    struct StripeConfig {
        QColor color;
        double width = 1; // points
        double spacing = 5; // points
        Qt::PenCapStyle lineCap = Qt::RoundCap;
    };

    struct Filled {
        QColor color;
    };
    struct Outlined {
        QColor color;
        double lineWidth = 1;
    };
    struct Gradient {
        std::vector<QColor> colors;
    };
    struct GradientOutlined {
        std::vector<QColor> colors;
        double lineWidth = 1;
    };
    struct Striped {
        StripeConfig config;
    };
    using Style = std::variant<Filled, Outlined, Gradient, GradientOutlined, Striped>;

    // Fades the amplitude towards one end or both over `percentage` of the width.
    struct Damping {
        enum class Sides { left, right, both };
        float percentage = 0.125f; // 0 to 0.5 of the width per side
        Sides sides = Sides::both;
        std::function<float(float)> easing; // 0...1 into the damped stretch -> 0...1 of the amplitude
        // The amplitude factor at column `i` of `count`.
        float factor(int i, int count) const;
    };

    // The fraction of the height at which the waveform's axis lies.
    class Position {
    public:
        static Position top() { return Position(0); }
        static Position middle() { return Position(0.5); }
        static Position bottom() { return Position(1); }
        static Position custom(double value) { return Position(value < 0 ? 0 : value > 1 ? 1 : value); }
        double value() const { return m_value; }

    private:
        explicit Position(double value)
            : m_value(value)
        {
        }
        double m_value;
    };

    struct Configuration {
        QSizeF size; // points
        QColor backgroundColor = Qt::transparent;
        Style style = Filled { Qt::black };
        std::optional<Damping> damping;
        double scale = 1; // pixels per point
        double verticalScalingFactor = 0.95;
        bool shouldAntialias = false;

        // Whole pixels across: the number of values the analyzer is asked for.
        int pixelWidth() const;
        int pixelHeight() const;
    };
};

} // namespace kivo::waveform

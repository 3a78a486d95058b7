#include "support/TestEnvironment.h"
#include "waveform/PreviewWaveform.h"
#include "waveform/WaveformImageDrawer.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace kivo::waveform;
using kivo::test::runRender;

namespace {

Waveform::Configuration config(
    double w, double h, double scale, Waveform::Style style = Waveform::Filled { Qt::black })
{
    Waveform::Configuration c;
    c.size = QSizeF(w, h);
    c.scale = scale;
    c.style = std::move(style);
    c.verticalScalingFactor = 0.5;
    return c;
}

// Rows of the image with any painted pixel in column x.
std::vector<int> paintedRows(const QImage& image, int x)
{
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (qAlpha(image.pixel(x, y)) > 0)
            rows.push_back(y);
    return rows;
}

} // namespace

TEST(LinearWaveformRenderer, LinesStandRightAlignedOnTheAxisOnePixelEachAndStripesKeepTheirPlace)
{
    const LinearWaveformRenderer renderer;
    // 100 points at 2x: 200 columns; 50 values fill the right quarter.
    const auto c = config(100, 20, 2);
    const std::vector<float> values(50, 0.0f);
    QPainterPath path = renderer.path(values, c, 0, Waveform::Position::middle());
    ASSERT_EQ(path.elementCount(), 100);
    EXPECT_DOUBLE_EQ(path.elementAt(0).x, 75.25);
    EXPECT_DOUBLE_EQ(path.elementAt(98).x, 99.75);
    // A full-scale line reaches the edges; the axis sits on the centre of pixel row 20.
    EXPECT_DOUBLE_EQ(path.elementAt(0).y, 10.25 - 10);
    EXPECT_DOUBLE_EQ(path.elementAt(1).y, 20);

    // Silence draws a flat line one pixel thick at the axis.
    WaveformImageDrawer drawer;
    const QImage flat
        = drawer.waveformImage(std::vector<float>(200, 1.0f), c, renderer, Waveform::Position::middle());
    ASSERT_EQ(flat.size(), QSize(200, 40));
    EXPECT_DOUBLE_EQ(flat.devicePixelRatio(), 2.0);
    for (int x : { 0, 77, 199 })
        EXPECT_EQ(paintedRows(flat, x), std::vector<int>({ 20 })) << x;
    EXPECT_EQ(drawer.lastSampleCount, 200);

    // Half loud at the top axis: lines hang down half the height times the scaling factor, 10
    // pixels below the axis row.
    const QImage top
        = drawer.waveformImage(std::vector<float>(200, 0.5f), c, renderer, Waveform::Position::top());
    EXPECT_EQ(paintedRows(top, 50).size(), 11u);

    // Fewer values than columns: the left stays empty unless silence padding is asked for.
    const QImage partial = drawer.waveformImage(values, c, renderer, Waveform::Position::middle());
    EXPECT_TRUE(paintedRows(partial, 10).empty());
    EXPECT_EQ(paintedRows(partial, 180).size(), 39u);
    drawer.shouldDrawSilencePadding = true;
    EXPECT_EQ(
        paintedRows(drawer.waveformImage(values, c, renderer, Waveform::Position::middle()), 10).size(), 1u);

    // Stripes every integer(width + spacing) x integer(scale) values, counted from lastOffset, each
    // moved right by half a stripe.
    const auto striped = config(20, 10, 2, Waveform::Striped { { Qt::red, 2, 3, Qt::FlatCap } });
    path = renderer.path(std::vector<float>(40, 0.0f), striped, 3, Waveform::Position::middle());
    ASSERT_EQ(path.elementCount(), 8); // indices 7, 17, 27, 37
    EXPECT_DOUBLE_EQ(path.elementAt(0).x, (7 + 0.5) / 2 + 1);
    EXPECT_DOUBLE_EQ(path.elementAt(2).x, (17 + 0.5) / 2 + 1);
}

TEST(LinearWaveformRenderer, DampingAndEveryStyleDrawInsideTheImage)
{
    Waveform::Damping damping;
    damping.percentage = 0.25f;
    damping.sides = Waveform::Damping::Sides::left;
    EXPECT_FLOAT_EQ(damping.factor(0, 100), 0.0f);
    EXPECT_FLOAT_EQ(damping.factor(10, 100), 0.4f);
    EXPECT_FLOAT_EQ(damping.factor(99, 100), 1.0f);
    damping.sides = Waveform::Damping::Sides::both;
    damping.easing = [](float t) { return t * t; };
    EXPECT_FLOAT_EQ(damping.factor(99, 100), 0.0f);
    EXPECT_FLOAT_EQ(damping.factor(50, 100), 1.0f);
    EXPECT_FLOAT_EQ(damping.factor(10, 100), 0.16f);

    const std::vector<float> values { 0.0f, 0.2f, 0.5f, 0.9f, 1.0f, 0.3f, 0.0f, 0.7f };
    const std::vector<Waveform::Style> styles { Waveform::Filled { Qt::blue },
        Waveform::Outlined { Qt::blue, 1 }, Waveform::Gradient { { Qt::red, Qt::blue } },
        Waveform::GradientOutlined { { Qt::red, Qt::green }, 2 },
        Waveform::Striped { { Qt::blue, 1, 1, Qt::RoundCap } } };
    const LinearWaveformRenderer linear;
    const CircularWaveformRenderer circle;
    const CircularWaveformRenderer ring(CircularWaveformRenderer::Kind::ring, 0.5);
    for (std::size_t k = 0; k < styles.size(); ++k) {
        auto c = config(8, 16, 1, styles[k]);
        c.backgroundColor = Qt::white;
        c.damping = damping;
        WaveformImageDrawer drawer;
        for (const WaveformRenderer* renderer :
            { static_cast<const WaveformRenderer*>(&linear), static_cast<const WaveformRenderer*>(&circle),
                static_cast<const WaveformRenderer*>(&ring) }) {
            const QImage image = drawer.waveformImage(values, c, *renderer, Waveform::Position::middle());
            ASSERT_EQ(image.size(), QSize(8, 16));
            int coloured = 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 8; ++x)
                    coloured += image.pixel(x, y) != QColor(Qt::white).rgba();
            EXPECT_GT(coloured, 0) << "style " << k;
        }
    }

    // Spokes run clockwise from twelve o'clock; a ring's start at its inner radius.
    const auto c = config(100, 100, 1);
    QPainterPath spokes = ring.path({ 0.0f, 0.0f, 0.0f, 0.0f }, c, 0, Waveform::Position::middle());
    ASSERT_EQ(spokes.elementCount(), 8);
    EXPECT_NEAR(spokes.elementAt(0).x, 50, 1e-9);
    EXPECT_NEAR(spokes.elementAt(0).y, 25, 1e-9);
    EXPECT_NEAR(spokes.elementAt(1).y, 25 - 25 * 0.5, 1e-9);
    EXPECT_NEAR(spokes.elementAt(2).x, 75, 1e-9);
    EXPECT_NEAR(circle.path({ 1.0f }, c, 0, Waveform::Position::middle()).elementAt(0).y, 50, 1e-9);

    // No pixels to draw into is a generation error, not an empty image.
    WaveformImageDrawer drawer;
    const auto none
        = drawer.waveformImage("/nowhere.wav", config(0.3, 10, 1), linear, Waveform::Position::middle());
    EXPECT_FALSE(none.ok());
    EXPECT_EQ(none.errorDescription(), "generic");
}

TEST(KivoRenderWaveform, PrintsTheValuesOrTheErrorAndWritesThePreviewImage)
{
    kivo::test::ScratchDir dir;
    const std::string wav = dir.tone("tone.wav", "synth 1 sine 440 vol 0.5 : trim 0 1", 44100);

    kivo::test::ToolRun r = runRender("'" + wav + "' --waveform 7");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto values = WaveformAnalyzer().samples(wav, 7).values;
    std::istringstream lines(r.out);
    std::string line;
    for (float v : values) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.size(), 8u) << line; // six decimals
        EXPECT_NEAR(std::stod(line), v, 1e-6);
    }
    EXPECT_FALSE(std::getline(lines, line));

    r = runRender("'" + dir.write("text.wav", "words") + "' --waveform 7");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Failed to load waveform image: ", 0), 0u) << r.out;
    EXPECT_EQ(runRender("'" + wav + "' --waveform 0").status, 2);
    EXPECT_EQ(runRender("'" + wav + "' --waveform-png x.png").status, 2);

    const std::string png = dir.str() + "/wave.png";
    r = runRender("'" + wav + "' --waveform-png '" + png + "' --size 120x30");
    ASSERT_EQ(r.status, 0) << r.out;
    QImage image(QString::fromStdString(png));
    ASSERT_EQ(image.size(), QSize(120, 30));
    WaveformImageDrawer drawer;
    const QImage expected = drawer.waveformImage(WaveformAnalyzer().samples(wav, 120).values,
        previewWaveformConfiguration(QSizeF(120, 30), 1), LinearWaveformRenderer(),
        previewWaveformPosition());
    EXPECT_EQ(image.convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
    // The silent second is a hairline; the tone fills most of the height.
    EXPECT_EQ(paintedRows(image, 100).size(), 1u);
    EXPECT_GT(paintedRows(image, 20).size(), 10u);
}

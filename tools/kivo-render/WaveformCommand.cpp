#include "WaveformCommand.h"

#include "waveform/PreviewWaveform.h"
#include "waveform/WaveformAnalyzer.h"
#include "waveform/WaveformImageDrawer.h"

#include <QImage>
#include <QString>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kivo::tools {

namespace {

constexpr const char* kUsage = "usage: kivo-render FILE --waveform N\n"
                               "       kivo-render FILE --waveform-png OUT.png --size WxH [--scale S]\n"
                               "  --waveform N        print the file's N waveform values (0 loud, 1 silent)\n"
                               "  --waveform-png OUT  write the preview's waveform image of W by H points\n"
                               "  --scale S           pixels per point of the image (default 1)\n";

int usage(const std::string& problem)
{
    std::fprintf(stderr, "kivo-render: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

bool parseInt(const std::string& text, long& out)
{
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == '\0';
}

// "WxH" in points, each from 1 to 10000.
bool parseSize(const std::string& text, long& w, long& h)
{
    const auto x = text.find('x');
    return x != std::string::npos && parseInt(text.substr(0, x), w) && parseInt(text.substr(x + 1), h)
        && w >= 1 && h >= 1 && w <= 10000 && h <= 10000;
}

int writePng(const std::string& file, const std::string& out, long w, long h, double scale)
{
    waveform::WaveformImageDrawer drawer;
    const waveform::LinearWaveformRenderer renderer;
    const auto result = drawer.waveformImage(file,
        waveform::previewWaveformConfiguration(QSizeF(double(w), double(h)), scale), renderer,
        waveform::previewWaveformPosition());
    if (!result.ok()) {
        std::printf("Failed to load waveform image: %s\n", result.errorDescription().c_str());
        return 1;
    }
    if (!result.image.save(QString::fromStdString(out), "PNG")) {
        std::fprintf(stderr, "kivo-render: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %dx%d pixels\n", out.c_str(), result.image.width(), result.image.height());
    return 0;
}

} // namespace

bool asksForWaveform(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--waveform" || a == "--waveform-png")
            return true;
    }
    return false;
}

int waveformMain(int argc, char** argv)
{
    std::string file;
    long count = -1;
    std::string png;
    long width = 0;
    long height = 0;
    double scale = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            if (!file.empty())
                return usage("expected one FILE");
            file = a;
            continue;
        }
        if (i + 1 >= argc)
            return usage(a + " needs a value");
        const std::string value = argv[++i];
        if (a == "--waveform") {
            if (!parseInt(value, count) || count < 1 || count > 1000000)
                return usage("--waveform needs a whole number of values from 1 to 1000000");
        } else if (a == "--waveform-png") {
            png = value;
        } else if (a == "--size") {
            if (!parseSize(value, width, height))
                return usage("--size needs WxH in points, each from 1 to 10000");
        } else if (a == "--scale") {
            char* end = nullptr;
            scale = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(scale >= 0.5 && scale <= 8))
                return usage("--scale must lie between 0.5 and 8");
        } else {
            return usage("unknown option " + a);
        }
    }
    if (file.empty())
        return usage("expected FILE");
    if ((count > 0) == !png.empty())
        return usage("give either --waveform N or --waveform-png OUT.png");
    if (!png.empty()) {
        if (width == 0)
            return usage("--waveform-png needs --size WxH");
        return writePng(file, png, width, height, scale);
    }

    const waveform::WaveformAnalyzer analyzer;
    const waveform::AnalyzeResult result = analyzer.samples(file, int(count));
    if (!result.ok()) {
        // The line the preview writes for the same file.
        std::printf("Failed to load waveform image: %s\n", result.error->description().c_str());
        return 1;
    }
    std::string out;
    out.reserve(result.values.size() * 10);
    char line[32];
    for (float v : result.values) {
        const int n = std::snprintf(line, sizeof line, "%.6f\n", double(v));
        out.append(line, std::size_t(n));
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

} // namespace kivo::tools

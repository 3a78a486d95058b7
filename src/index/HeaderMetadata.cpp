#include "index/HeaderMetadata.h"

#include "music/MIDIFileParser.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::index {

namespace {

constexpr off_t kMaxMidiFileBytes = 64 << 20;

enum class HeaderFormat { none, wav, tagged, midi };

HeaderFormat formatOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    const auto dot = path.rfind('.');
    // A leading dot makes a hidden name, not an extension.
    if (dot == std::string_view::npos || dot == 0 || path.size() - dot - 1 > 4)
        return HeaderFormat::none;
    std::string ext(path.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    if (ext == "wav")
        return HeaderFormat::wav;
    if (ext == "mp3" || ext == "m4a" || ext == "aac" || ext == "aiff" || ext == "flac")
        return HeaderFormat::tagged;
    if (ext == "mid" || ext == "midi")
        return HeaderFormat::midi;
    return HeaderFormat::none;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

HeaderMetadata readHeaderMetadata(const std::string& path)
{
    switch (formatOf(path)) {
    case HeaderFormat::wav:
        return readWavHeader(path);
    case HeaderFormat::tagged:
        return readTaggedHeader(path);
    case HeaderFormat::midi:
        return readMidiHeader(path);
    case HeaderFormat::none:
        break;
    }
    return {};
}

std::optional<std::int64_t> headerTempo(double bpm)
{
    if (!std::isfinite(bpm))
        return std::nullopt;
    const double rounded = std::round(bpm);
    // Compared as a real first so that huge values never reach the integer conversion.
    if (rounded < double(kMinHeaderBPM) || rounded > double(kMaxHeaderBPM))
        return std::nullopt;
    return std::int64_t(rounded);
}

std::optional<std::int64_t> headerTempoFromText(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return headerTempo(value);
}

std::optional<std::string> headerKeyFromText(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    return std::string(text);
}

HeaderMetadata readMidiHeader(const std::string& path)
{
    HeaderMetadata result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return result;
    std::string bytes;
    struct stat info { };
    // Real MIDI files are a few kilobytes; something far larger behind the extension is not read.
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxMidiFileBytes) {
        bytes.resize(std::size_t(info.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += std::size_t(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    // Only the tempo: a MIDI file's key and length are not header values.
    if (const auto data = music::MIDIFileParser::parse(std::string_view(bytes)); data && data->initialBPM)
        result.bpm = headerTempo(*data->initialBPM);
    return result;
}

} // namespace kivo::index

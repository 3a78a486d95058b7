#include "index/HeaderMetadata.h"

#include "music/MIDITempoScan.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::index {

namespace {

constexpr off_t kMaxMidiFileBytes = 64 << 20;
constexpr std::size_t kMidiFirstRead = 16 << 10;

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

// Any Unicode white space: tags written elsewhere carry no-break (U+00A0) and ideographic (U+3000)
// spaces as readily as ASCII blanks. Returns the byte length of the blank character at `at`, 0 if none.
std::size_t blankAt(std::string_view text, std::size_t at, bool backwards)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = std::int32_t(text.size());
    std::int32_t i = std::int32_t(at);
    UChar32 c;
    if (backwards)
        U8_PREV(bytes, 0, i, c);
    else
        U8_NEXT(bytes, i, length, c);
    if (c < 0 || !u_isUWhiteSpace(c))
        return 0;
    return std::size_t(backwards ? std::int32_t(at) - i : i - std::int32_t(at));
}

thread_local int t_folderFd = -1;
thread_local std::string_view t_folder;

} // namespace

FolderHandleScope::FolderHandleScope(int folderFd, std::string_view folder)
    : m_previousFd(t_folderFd)
    , m_previousFolder(t_folder)
{
    t_folderFd = folderFd;
    t_folder = folder;
}

FolderHandleScope::~FolderHandleScope()
{
    t_folderFd = m_previousFd;
    t_folder = m_previousFolder;
}

int openHeaderFile(const std::string& path, int flags)
{
    flags |= O_RDONLY | O_CLOEXEC;
    const std::string_view folder = t_folder;
    if (t_folderFd >= 0 && path.size() > folder.size() + 1 && path.starts_with(folder)
        && path[folder.size()] == '/' && path.find('/', folder.size() + 1) == std::string::npos)
        return ::openat(t_folderFd, path.c_str() + folder.size() + 1, flags);
    return ::open(path.c_str(), flags);
}

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
    while (const std::size_t n = text.empty() ? 0 : blankAt(text, 0, false))
        text.remove_prefix(n);
    while (const std::size_t n = text.empty() ? 0 : blankAt(text, text.size(), true))
        text.remove_suffix(n);
    if (text.empty())
        return std::nullopt;
    return std::string(text);
}

HeaderMetadata readMidiHeader(const std::string& path)
{
    HeaderMetadata result;
    // Non-blocking open: a FIFO under a MIDI name must not hold the scan.
    const int fd = openHeaderFile(path, O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return result;
    struct stat info { };
    // Real MIDI files are a few kilobytes; something far larger behind the extension is not read.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxMidiFileBytes) {
        ::close(fd);
        return result;
    }
    // Only the tempo (a MIDI file's key and length are not header values), and only as much of
    // the file as it takes: the start, then more while the answer needs it.
    std::size_t fileSize = std::size_t(info.st_size);
    std::string bytes;
    std::size_t want = std::min<std::size_t>(fileSize, kMidiFirstRead);
    while (true) {
        bytes.resize(want);
        std::size_t done = 0;
        while (done < want) {
            const ssize_t n = ::pread(fd, bytes.data() + done, want - done, off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += std::size_t(n);
        }
        if (done < want) // the file is shorter than it was: read what there is
            fileSize = done;
        bytes.resize(done);
        const auto scan = music::MIDITempoScan::scan(bytes, fileSize);
        if (scan.complete) {
            if (scan.initialBPM)
                result.bpm = headerTempo(*scan.initialBPM);
            break;
        }
        want = std::min(fileSize, std::max(scan.needed, 2 * bytes.size()));
    }
    ::close(fd);
    return result;
}

} // namespace kivo::index

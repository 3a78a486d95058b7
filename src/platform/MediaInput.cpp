#include "platform/MediaInput.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace kivo::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

int64_t nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch())
        .count();
}

std::string lowerExtension(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

std::string describe(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Refuses every open FFmpeg attempts on its own (playlist entries, references, segments).
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

} // namespace

struct MediaInput::Source {
    int fd = -1;
    AVIOContext* io = nullptr;
    std::atomic<int64_t> deadline { 0 };
    bool cut = false; // a read or wait was refused for want of time since the last allow()

    bool expired() const { return nowNanoseconds() > deadline.load(std::memory_order_relaxed); }

    static int read(void* opaque, uint8_t* buffer, int size)
    {
        auto* self = static_cast<Source*>(opaque);
        if (self->expired()) {
            self->cut = true;
            return AVERROR_EXIT;
        }
        while (true) {
            const ssize_t got = ::read(self->fd, buffer, std::size_t(size));
            if (got > 0)
                return int(got);
            if (got == 0)
                return AVERROR_EOF;
            if (errno != EINTR)
                return AVERROR(errno);
        }
    }

    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        auto* self = static_cast<Source*>(opaque);
        if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) {
            struct stat st { };
            return fstat(self->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
        }
        const off_t at = lseek(self->fd, off_t(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : int64_t(at);
    }

    static int interrupted(void* opaque)
    {
        auto* self = static_cast<Source*>(opaque);
        if (!self->expired())
            return 0;
        self->cut = true;
        return 1;
    }

    ~Source()
    {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (fd >= 0)
            ::close(fd);
    }
};

const char* MediaInput::containerForPath(const std::string& path)
{
    const std::string ext = lowerExtension(path);
    if (ext == "wav")
        return "wav";
    if (ext == "aiff" || ext == "aif")
        return "aiff";
    if (ext == "mp3")
        return "mp3";
    if (ext == "flac")
        return "flac";
    if (ext == "aac")
        return "aac"; // ADTS
    if (ext == "m4a" || ext == "mp4")
        return "mov";
    return nullptr;
}

std::unique_ptr<MediaInput> MediaInput::open(
    const std::string& path, std::chrono::milliseconds budget, std::string* error)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    auto fail = [error](std::string text) {
        if (error)
            *error = std::move(text);
        return nullptr;
    };

    const char* container = containerForPath(path);
    const AVInputFormat* format = container ? av_find_input_format(container) : nullptr;
    if (!format)
        return fail("The file's format is not supported");

    std::unique_ptr<MediaInput> input(new MediaInput);
    input->m_source = std::make_unique<Source>();
    Source& source = *input->m_source;
    // Non-blocking, so that a FIFO or device under a sample's name cannot hold the open; the
    // descriptor is then checked to be a regular file before anything reads from it.
    source.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (source.fd < 0)
        return fail(std::string("The file could not be opened (") + std::strerror(errno) + ")");
    struct stat st { };
    if (fstat(source.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail("The file could not be opened (not a regular file)");
    const int flags = fcntl(source.fd, F_GETFL);
    if (flags >= 0)
        fcntl(source.fd, F_SETFL, flags & ~O_NONBLOCK);

    constexpr int kBufferSize = 64 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer)
        return fail("The file could not be opened (out of memory)");
    source.io = avio_alloc_context(buffer, kBufferSize, 0, &source, &Source::read, nullptr, &Source::seek);
    if (!source.io) {
        av_free(buffer);
        return fail("The file could not be opened (out of memory)");
    }

    AVFormatContext* context = avformat_alloc_context();
    if (!context)
        return fail("The file could not be opened (out of memory)");
    context->pb = source.io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->interrupt_callback = AVIOInterruptCB { &Source::interrupted, &source };
    context->io_open = &refuseNestedOpen;
    context->protocol_whitelist = av_strdup("file");
    context->format_whitelist = av_strdup(container);
    input->allow(budget);
    // On failure FFmpeg frees the context (not our reader, which the Source owns).
    const int rc = avformat_open_input(&context, path.c_str(), format, nullptr);
    if (rc >= 0)
        input->m_format = context;
    // Raw formats (mp3, aac, flac) open on any bytes and find out later; a header read cut short by
    // the bound must not pass for a good one.
    if (source.expired())
        return fail("The file could not be opened (it took too long to read)");
    if (rc < 0)
        return fail("The file could not be opened (" + describe(rc) + ")");
    return input;
}

MediaInput::~MediaInput()
{
    // The format context goes first: it reads through the Source until it is closed.
    avformat_close_input(&m_format);
    m_source.reset();
}

void MediaInput::allow(std::chrono::milliseconds budget)
{
    m_source->cut = false;
    m_source->deadline.store(
        nowNanoseconds() + std::chrono::duration_cast<std::chrono::nanoseconds>(budget).count(),
        std::memory_order_relaxed);
}

bool MediaInput::expired() const
{
    return m_source->expired();
}

bool MediaInput::wasCut() const
{
    return m_source->cut;
}

} // namespace kivo::platform

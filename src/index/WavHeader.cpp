// The WAV reader: a walk over the RIFF chunk headers that reads only the first 4 KiB (where the headers
// and the "fmt " and "acid" bodies usually are) and the headers beyond it, and jumps over everything else
// by offset, so a multi-gigabyte recording costs a few small reads.

#include "index/HeaderMetadata.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kivo::index {

namespace {

constexpr int kMaxChunkHeaders = 128;
constexpr const char* kRootNames[12] = { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B" };

std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
        | std::uint32_t(p[3]) << 24;
}

std::uint16_t le16(const unsigned char* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

// Reads up to `size` bytes at `offset`; a short count only at the end of the file, -1 on an error.
ssize_t readAt(int fd, unsigned char* buffer, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += std::size_t(n);
        // A regular file reads short only at its end: asking again would cost a call to learn that.
        if (done < size)
            break;
    }
    return ssize_t(done);
}

// The file opened read-only, with its first 4 KiB fetched in one read: that holds the chunk headers and
// the "fmt " and "acid" bodies of the usual file, and the whole of a short one-shot (whose "acid" chunk
// often follows the audio), which then costs a single read. Anything beyond it is read where it lies, so
// sample data is still only ever skipped.
class ChunkReader {
public:
    explicit ChunkReader(const std::string& path)
        : m_fd(openHeaderFile(path))
    {
        if (m_fd < 0)
            return;
        const ssize_t n = readAt(m_fd, m_head, kHead, 0);
        // A short first read means the whole file is here; after an error every read goes to the file.
        m_headSize = n > 0 ? std::size_t(n) : 0;
        m_wholeFile = n >= 0 && std::size_t(n) < kHead;
    }
    ~ChunkReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;
    bool isOpen() const { return m_fd >= 0; }

    // `size` bytes at `offset`: fewer only at the end of the file, -1 on an error.
    ssize_t read(unsigned char* out, std::size_t size, std::uint64_t offset)
    {
        if (offset + size <= m_headSize) {
            std::memcpy(out, m_head + offset, size);
            return ssize_t(size);
        }
        if (!m_wholeFile)
            return readAt(m_fd, out, size, offset);
        if (offset >= m_headSize)
            return 0;
        const std::size_t got = m_headSize - std::size_t(offset);
        std::memcpy(out, m_head + offset, got);
        return ssize_t(got);
    }

private:
    static constexpr std::size_t kHead = 4096;
    int m_fd;
    std::size_t m_headSize = 0;
    bool m_wholeFile = false;
    unsigned char m_head[kHead];
};

} // namespace

HeaderMetadata readWavHeader(const std::string& path)
{
    HeaderMetadata result;
    ChunkReader file(path);
    if (!file.isOpen())
        return result;
    unsigned char riff[12];
    if (file.read(riff, 12, 0) != 12 || std::memcmp(riff, "RIFF", 4) || std::memcmp(riff + 8, "WAVE", 4))
        return result;

    // 0 stands for unknown: a zero byte rate or audio size is as good as none.
    std::uint32_t byteRate = 0;
    std::uint32_t audioBytes = 0;
    bool acidRead = false;
    std::uint64_t offset = 12;
    for (int headers = 0; headers < kMaxChunkHeaders; ++headers) {
        unsigned char header[8];
        if (file.read(header, 8, offset) != 8)
            break;
        const std::uint32_t size = le32(header + 4);
        const bool isAcid = !std::memcmp(header, "acid", 4);
        if (!acidRead && isAcid && size >= 24) {
            unsigned char acid[24];
            if (file.read(acid, 24, offset + 8) == 24) {
                float tempo;
                const std::uint32_t bits = le32(acid + 20);
                std::memcpy(&tempo, &bits, sizeof tempo);
                result.bpm = headerTempo(double(tempo));
                const std::uint16_t root = le16(acid + 4);
                if ((acid[0] & 0x02) && root < 128)
                    result.key = kRootNames[root % 12];
                acidRead = true;
                if (byteRate && audioBytes)
                    break;
            }
        }
        if (!byteRate && !std::memcmp(header, "fmt ", 4) && size >= 16) {
            unsigned char format[16];
            if (file.read(format, 16, offset + 8) == 16)
                byteRate = le32(format + 8);
        }
        if (!audioBytes && !std::memcmp(header, "data", 4))
            audioBytes = size;
        if (acidRead && byteRate && audioBytes)
            break;
        // Odd-sized chunks are followed by one pad byte.
        offset += 8 + std::uint64_t(size) + (size & 1u);
    }

    if (byteRate && audioBytes)
        result.duration = double(audioBytes) / double(byteRate);
    return result;
}

} // namespace kivo::index

#include "index/ReadOnlyFileStream.h"

#include "index/HeaderMetadata.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::index {

ReadOnlyFileStream::ReadOnlyFileStream(const std::string& path)
    : m_path(path)
    , m_fd(openHeaderFile(path))
{
    if (m_fd < 0)
        return;
    load(m_head, 0);
    // A first window that the file does not fill is the whole file: no stat needed for its length.
    if (m_head.size < kWindow) {
        m_length = m_head.size;
        return;
    }
    struct stat info { };
    if (::fstat(m_fd, &info) == 0)
        m_length = std::max(long(info.st_size), m_head.size);
}

ReadOnlyFileStream::~ReadOnlyFileStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t ReadOnlyFileStream::readAt(char* out, std::size_t size, long at) const
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(m_fd, out + done, size - done, off_t(at) + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
        // A regular file reads short only at its end: asking again would cost a call to learn that.
        if (done < size)
            break;
    }
    return done;
}

void ReadOnlyFileStream::load(Window& window, long start)
{
    if (!window.bytes)
        window.bytes.reset(new char[std::size_t(kWindow)]);
    window.start = start;
    window.size = long(readAt(window.bytes.get(), std::size_t(kWindow), start));
}

TagLib::ByteVector ReadOnlyFileStream::readBlock(unsigned long length)
{
    if (m_fd < 0 || length == 0)
        return {};
    // Damaged headers ask for gigabytes: never make room for more than the file still holds.
    const unsigned long left = m_position < m_length ? (unsigned long)(m_length - m_position) : 0;
    const long size = long(std::min(length, left));
    if (size == 0)
        return {};
    TagLib::ByteVector block;
    const Window* from = m_head.holds(m_position, size) ? &m_head
        : m_last.holds(m_position, size)                ? &m_last
                                                        : nullptr;
    if (!from && size <= kWindow) {
        // Near the end the window ends with the file, so that the footers read backwards from there
        // (ID3v1, APE) come out of the same window.
        load(m_last, std::max(0L, std::min(m_position, m_length - kWindow)));
        from = &m_last;
    }
    if (from) {
        // A file that shrank since it was opened gives what the window holds.
        const long offset = m_position - from->start;
        const long got = std::clamp(from->size - offset, 0L, size);
        block = TagLib::ByteVector(from->bytes.get() + offset, (unsigned int)got);
    } else {
        block.resize((unsigned int)size);
        block.resize((unsigned int)readAt(block.data(), std::size_t(size), m_position));
    }
    m_position += long(block.size());
    return block;
}

void ReadOnlyFileStream::seek(long offset, Position from)
{
    if (m_fd < 0)
        return;
    const long base = from == Beginning ? 0 : from == Current ? m_position : m_length;
    if ((offset < 0 && base + offset < 0) || (offset > 0 && base > std::numeric_limits<long>::max() - offset))
        return;
    m_position = base + offset;
}

} // namespace kivo::index

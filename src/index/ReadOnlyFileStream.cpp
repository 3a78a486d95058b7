#include "index/ReadOnlyFileStream.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::index {

ReadOnlyFileStream::ReadOnlyFileStream(const std::string& path)
    : m_path(path)
    , m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
{
    struct stat info { };
    if (m_fd >= 0 && ::fstat(m_fd, &info) == 0)
        m_length = long(info.st_size);
}

ReadOnlyFileStream::~ReadOnlyFileStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

TagLib::ByteVector ReadOnlyFileStream::readBlock(unsigned long length)
{
    if (m_fd < 0 || length == 0)
        return {};
    // Damaged headers ask for gigabytes: never make room for more than the file still holds.
    const unsigned long left = m_position < m_length ? (unsigned long)(m_length - m_position) : 0;
    TagLib::ByteVector block((unsigned int)std::min(length, left));
    std::size_t done = 0;
    while (done < block.size()) {
        const ssize_t n
            = ::pread(m_fd, block.data() + done, block.size() - done, off_t(m_position) + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    block.resize((unsigned int)done);
    m_position += long(done);
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

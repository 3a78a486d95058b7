#pragma once

// A read-only file for TagLib that reads with pread at a position of its own. TagLib asks for a few
// bytes at a time (an atom's or chunk's 8-byte header, a frame header, a tag footer), ten to thirty
// times per file, and its own stream asks the file for its length before every read: this one reads the
// start of the file once, and any other place a window at a time, and answers the small reads from
// those, so that a usual tagged sample costs one or two reads. Nothing is ever written.

#include <taglib/tiostream.h>

#include <memory>
#include <string>

namespace kivo::index {

class ReadOnlyFileStream final : public TagLib::IOStream {
public:
    explicit ReadOnlyFileStream(const std::string& path);
    ~ReadOnlyFileStream() override;

    TagLib::FileName name() const override { return m_path.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector&) override { }
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override { }
    void removeBlock(unsigned long, unsigned long) override { }
    bool readOnly() const override { return true; }
    bool isOpen() const override { return m_fd >= 0; }
    // Like fseek: a position before the start is refused, one past the end reads nothing.
    void seek(long offset, Position from = Beginning) override;
    long tell() const override { return m_position; }
    long length() override { return m_length; }
    void truncate(long) override { }

    // Bytes read per window: the whole header region of the usual sample, and little enough to copy.
    static constexpr long kWindow = 32 * 1024;

private:
    struct Window {
        long start = 0;
        long size = 0; // what the file held there (fewer at its end)
        std::unique_ptr<char[]> bytes; // made on first use, never cleared: only `size` bytes are read
        bool holds(long at, long count) const { return at >= start && at + count <= start + size; }
    };
    // Reads `size` bytes at `at` into `out`; returns how many there were.
    std::size_t readAt(char* out, std::size_t size, long at) const;
    void load(Window& window, long start);

    std::string m_path;
    int m_fd;
    long m_length = 0;
    long m_position = 0;
    Window m_head; // the start of the file, read on opening
    Window m_last; // the window of the latest read elsewhere
};

} // namespace kivo::index

#pragma once

// A read-only file for TagLib that reads with pread at a position of its own. TagLib's own stream asks
// the file for its length (two seeks) before every read and goes through stdio, which made up a good
// part of a tag read; this one reads the length once and costs one system call per read. Nothing is
// ever written.

#include <taglib/tiostream.h>

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

private:
    std::string m_path;
    int m_fd;
    long m_length = 0;
    long m_position = 0;
};

} // namespace kivo::index

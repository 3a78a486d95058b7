#include "index/ReadOnlyFileStream.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace kivo::index;
using kivo::test::ScratchDir;

namespace {

std::string text(const TagLib::ByteVector& bytes)
{
    return std::string(bytes.data(), bytes.size());
}

} // namespace

TEST(ReadOnlyFileStream, ReadsAndSeeksAsAFileDoesAndNeverWrites)
{
    ScratchDir dir;
    const std::string path = dir.write("t.mp3", "0123456789");
    ReadOnlyFileStream stream(path);
    ASSERT_TRUE(stream.isOpen());
    EXPECT_TRUE(stream.readOnly());
    EXPECT_EQ(stream.length(), 10);
    EXPECT_EQ(text(stream.readBlock(4)), "0123");
    EXPECT_EQ(stream.tell(), 4);
    EXPECT_EQ(text(stream.readBlock(0)), "");
    stream.seek(2, TagLib::IOStream::Current);
    EXPECT_EQ(text(stream.readBlock(2)), "67");
    stream.seek(-3, TagLib::IOStream::End);
    EXPECT_EQ(text(stream.readBlock(100)), "789"); // short at the end of the file
    EXPECT_EQ(stream.tell(), 10);
    // Before the start is refused and the position stays; past the end reads nothing.
    stream.seek(-11, TagLib::IOStream::End);
    EXPECT_EQ(stream.tell(), 10);
    stream.seek(5);
    stream.seek(-6, TagLib::IOStream::Current);
    EXPECT_EQ(stream.tell(), 5);
    stream.seek(20);
    EXPECT_EQ(stream.tell(), 20);
    EXPECT_EQ(text(stream.readBlock(4)), "");
    // A damaged header's huge length gets only what is there.
    stream.seek(8);
    EXPECT_EQ(stream.readBlock(0xffffffffu).size(), 2u);

    stream.seek(0);
    stream.writeBlock(TagLib::ByteVector("xx"));
    stream.insert(TagLib::ByteVector("yy"), 0, 0);
    stream.removeBlock(0, 4);
    stream.truncate(1);
    EXPECT_EQ(text(stream.readBlock(10)), "0123456789");

    // A file larger than one window: reads at the start, across a window's end, backwards from the
    // end (tag footers) and larger than a window all give the file's bytes.
    std::string big(std::size_t(3 * ReadOnlyFileStream::kWindow + 123), '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = char('a' + (i * 7 + i / 251) % 26);
    ReadOnlyFileStream large(dir.write("big.m4a", big));
    EXPECT_EQ(large.length(), long(big.size()));
    const long window = ReadOnlyFileStream::kWindow;
    for (const auto& [at, size] : std::vector<std::pair<long, long>> { { 0, 8 }, { window - 4, 8 },
             { window + 100, 8 }, { long(big.size()) - 128, 128 }, { long(big.size()) - 160, 32 },
             { 5, 2 * window }, { long(big.size()) - 3, 10 } }) {
        large.seek(at);
        const auto expected = big.substr(std::size_t(at), std::size_t(size));
        EXPECT_EQ(text(large.readBlock((unsigned long)size)), expected) << at << " " << size;
        EXPECT_EQ(large.tell(), at + long(expected.size()));
    }

    ReadOnlyFileStream missing(dir.str() + "/none.mp3");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.length(), 0);
    EXPECT_EQ(missing.readBlock(4).size(), 0u);
}

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

    ReadOnlyFileStream missing(dir.str() + "/none.mp3");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.length(), 0);
    EXPECT_EQ(missing.readBlock(4).size(), 0u);
}

// Sample files reach FFmpeg only through MediaInput: the container of the name's extension and
// nothing else, never a file the sample names, and never without a time bound.

#include "platform/MediaInput.h"
#include "support/FifoWatchdog.h"
#include "support/ReadFile.h"
#include "support/TestEnvironment.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

using kivo::platform::MediaInput;
using kivo::test::FifoWatchdog;
using kivo::test::readFile;
using kivo::test::shell;
using namespace std::chrono_literals;

namespace {

// Packets the demuxer delivers before the end or an error.
int packetCount(MediaInput& input)
{
    AVPacket* packet = av_packet_alloc();
    int count = 0;
    while (av_read_frame(input.format(), packet) >= 0) {
        ++count;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return count;
}

} // namespace

TEST(MediaInput, OpensOnlyTheContainerOfTheExtensionAndNothingItNames)
{
    kivo::test::ScratchDir dir;
    const std::string d = dir.str();
    if (!shell("ffmpeg -version"))
        GTEST_SKIP() << "ffmpeg makes the media";
    const std::string tone = "ffmpeg -v error -y -f lavfi -i sine=duration=0.5 ";
    const struct {
        const char* name;
        const char* make; // ffmpeg's encoder and muxer
        const char* demuxer;
    } formats[] = {
        { "a.wav", "-c:a pcm_s16le -f wav", "wav" },
        { "a.AIFF", "-c:a pcm_s16be -f aiff", "aiff" },
        { "a.flac", "-c:a flac -f flac", "flac" },
        { "a.mp3", "-c:a libmp3lame -f mp3", "mp3" },
        { "a.aac", "-c:a aac -f adts", "aac" },
        { "a.m4a", "-c:a aac -f ipod", "mov,mp4,m4a,3gp,3g2,mj2" },
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(shell(tone + f.make + " '" + d + "/" + f.name + "'"));
        std::string error;
        auto input = MediaInput::open(d + "/" + f.name, 5s, &error);
        ASSERT_TRUE(input) << error;
        EXPECT_STREQ(input->format()->iformat->name, f.demuxer);
        EXPECT_GT(packetCount(*input), 0);
    }

    // Another format's bytes behind the extension are read as that extension's format (where they
    // make nothing) and never as what they are; an extension that is not a sample's opens nothing.
    std::string error;
    for (const char* name : { "wave.mp3", "wave.flac", "wave.aac", "wave.aiff" }) {
        dir.write(name, readFile(d + "/a.wav"));
        if (auto input = MediaInput::open(d + "/" + name, 5s)) {
            EXPECT_STRNE(input->format()->iformat->name, "wav") << name;
        }
    }
    dir.write("a.txt", readFile(d + "/a.wav"));
    EXPECT_FALSE(MediaInput::open(d + "/a.txt", 5s, &error));

    // A playlist under a sample's name opens nothing it names: not a FIFO (which would block
    // for good), not another local file.
    FifoWatchdog fifo(d + "/fifo", 10s);
    ASSERT_TRUE(fifo.made());
    for (const std::string& target : { fifo.path(), d + "/a.aac", "file:" + d + "/a.wav" }) {
        for (const char* ext : { "aac", "wav", "mp3", "m4a", "flac", "aiff" }) {
            const std::string list
                = dir.write(std::string("list.") + ext, kivo::test::hlsPlaylistNaming(target));
            if (auto input = MediaInput::open(list, 5s, &error)) {
                EXPECT_EQ(packetCount(*input), 0) << ext << " naming " << target;
            }
        }
    }
    // The FIFO itself under a sample's name, directly or through a link, is no file to read.
    ASSERT_EQ(::symlink(fifo.path().c_str(), (d + "/fifo.wav").c_str()), 0);
    EXPECT_FALSE(MediaInput::open(d + "/fifo.wav", 5s, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(fifo.stop()) << "a FIFO was opened for reading";

    // Every open and every read has its bound.
    ASSERT_TRUE(
        shell("ffmpeg -v error -y -f lavfi -i anoisesrc=duration=20 -c:a flac '" + d + "/noise.flac'"));
    EXPECT_FALSE(MediaInput::open(d + "/noise.flac", 0ms, &error));
    EXPECT_NE(error.find("took too long"), std::string::npos) << error;
    auto whole = MediaInput::open(d + "/noise.flac", 5s);
    auto cut = MediaInput::open(d + "/noise.flac", 5s);
    ASSERT_TRUE(whole && cut);
    const int all = packetCount(*whole);
    cut->allow(0ms);
    EXPECT_LT(packetCount(*cut), all / 2);
    EXPECT_TRUE(cut->expired());
    // A read cut short is told from the end of the file: what was heard of it is not the file.
    EXPECT_TRUE(cut->wasCut());
    EXPECT_FALSE(whole->wasCut());
}

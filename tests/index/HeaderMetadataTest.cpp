#include "index/HeaderMetadata.h"
#include "IndexTestSupport.h"

#include "music/MIDIFileWriter.h"
#include "support/FifoWatchdog.h"
#include "support/ReadFile.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <unistd.h>
#include <variant>

using namespace kivo::index;
using kivo::test::ScratchDir;
using namespace std::string_literals;

namespace {

std::string le(std::uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xff));
    return out;
}

std::string fmtBody(std::uint32_t byteRate)
{
    return le(1, 2) + le(2, 2) + le(44100, 4) + le(byteRate, 4) + le(4, 2) + le(16, 2);
}

std::string acidBody(std::uint32_t flags, std::uint16_t root, float tempo)
{
    std::uint32_t bits;
    std::memcpy(&bits, &tempo, 4);
    return le(flags, 4) + le(root, 2) + le(0x8000, 2) + le(0, 4) + le(8, 4) + le(4, 2) + le(4, 2)
        + le(bits, 4);
}

// A RIFF file of these chunks in order. A chunk given a size alone is its header only, declaring
// that size whatever follows; an odd-sized body is followed by its pad byte.
using Chunk = std::pair<std::string, std::variant<std::string, std::uint32_t>>;
std::string riff(const std::vector<Chunk>& chunks)
{
    std::string bytes = "RIFF" + le(0, 4) + "WAVE";
    for (const auto& [id, content] : chunks) {
        if (const auto* declared = std::get_if<std::uint32_t>(&content)) {
            bytes += id + le(*declared, 4);
            continue;
        }
        const auto& body = std::get<std::string>(content);
        bytes += id + le(body.size(), 4) + body + (body.size() % 2 ? "\0"s : ""s);
    }
    return bytes;
}

HeaderMetadata readWav(const ScratchDir& dir, const std::string& bytes, const std::string& name = "t.wav")
{
    return readHeaderMetadata(dir.write(name, bytes));
}

HeaderMetadata readWav(const ScratchDir& dir, const std::vector<Chunk>& chunks)
{
    return readWav(dir, riff(chunks));
}

std::optional<std::int64_t> acidTempo(const ScratchDir& dir, float tempo)
{
    return readWav(dir, { { "acid", acidBody(0, 0, tempo) } }).bpm;
}

bool haveTool(const char* tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

TEST(HeaderMetadata, WavDurationTempoAndRootFromTheChunks)
{
    ScratchDir dir;
    // The audio itself is never read: a declared "data" size is enough.
    EXPECT_EQ(readWav(dir, { { "fmt ", fmtBody(176400) }, { "data", 1764000u } }),
        (HeaderMetadata { std::nullopt, std::nullopt, 10.0 }));
    EXPECT_EQ(readWav(dir,
                  { { "fmt ", fmtBody(88200) }, { "acid", acidBody(0x02, 57, 127.6f) }, { "data", 44100u } }),
        (HeaderMetadata { 128, "A", 0.5 }));
    // Flags without bit 1, or a note past 127: no root. Bit 0 alone (one-shot) is not enough.
    const auto root = [&](std::uint32_t flags, std::uint16_t note) {
        return readWav(dir, { { "acid", acidBody(flags, note, 120) } }).key;
    };
    EXPECT_EQ(root(0x00, 57), std::nullopt);
    EXPECT_EQ(root(0x01, 57), std::nullopt);
    EXPECT_EQ(root(0x03, 61), "C#");
    EXPECT_EQ(root(0x02, 127), "G");
    EXPECT_EQ(root(0x02, 128), std::nullopt);

    EXPECT_EQ(acidTempo(dir, 39.4f), std::nullopt);
    EXPECT_EQ(acidTempo(dir, 39.5f), 40); // halves away from zero
    EXPECT_EQ(acidTempo(dir, 400.4f), 400);
    for (const float tempo : { 400.6f, 0.0f, -120.0f, 3e38f, std::numeric_limits<float>::infinity(),
             std::numeric_limits<float>::quiet_NaN() })
        EXPECT_EQ(acidTempo(dir, tempo), std::nullopt) << tempo;

    // A zero byte rate or audio size is unknown: no duration, and no division by zero.
    EXPECT_EQ(readWav(dir, { { "fmt ", fmtBody(0) }, { "data", 100u } }).duration, std::nullopt);
    EXPECT_EQ(readWav(dir, { { "fmt ", fmtBody(100) }, { "data", 0u } }).duration, std::nullopt);
    // Upper-case extensions are WAV too.
    EXPECT_EQ(readWav(dir, riff({ { "acid", acidBody(2, 60, 90) } }), "LOOP.WAV").bpm, 90);

    // Within a folder's handle scope its files are opened beside the handle (the folder renamed since
    // still reads), while a file elsewhere, even in a folder whose name starts the same, goes by path.
    const std::string bytes = riff({ { "acid", acidBody(2, 60, 90) } });
    dir.write("A/t.wav", bytes);
    const std::string other = dir.write("A2/t.wav", riff({ { "acid", acidBody(2, 60, 100) } }));
    const std::string folder = dir.str() + "/A";
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::rename(folder.c_str(), (dir.str() + "/B").c_str()), 0);
    {
        const FolderHandleScope scope(fd, folder);
        EXPECT_EQ(readHeaderMetadata(folder + "/t.wav").bpm, 90);
        EXPECT_EQ(readHeaderMetadata(other).bpm, 100);
    }
    EXPECT_EQ(readHeaderMetadata(folder + "/t.wav").bpm, std::nullopt);
    ::close(fd);
}

TEST(HeaderMetadata, WavChunkWalkPadsCapsAndKeepsTheFirstOfEachKind)
{
    ScratchDir dir;
    // An odd-sized chunk is followed by a pad byte; without skipping it the walk would lose its place.
    EXPECT_EQ(
        readWav(dir, { { "fmt ", fmtBody(1000) }, { "junk", "12345" }, { "LIST", "abc" }, { "data", 2500u } })
            .duration,
        2.5);
    // The first chunk of each kind wins.
    EXPECT_EQ(readWav(dir,
                  { { "acid", acidBody(2, 62, 100) }, { "fmt ", fmtBody(1000) },
                      { "data", std::string(10, 'x') }, { "fmt ", fmtBody(10) },
                      { "acid", acidBody(2, 64, 140) }, { "data", std::string(20, 'x') } }),
        (HeaderMetadata { 100, "D", 0.01 }));
    // Without an "acid" chunk the walk goes on after "data" and meets the later chunks.
    EXPECT_EQ(
        readWav(dir,
            { { "fmt ", fmtBody(10) }, { "data", "1234" }, { "fmt ", fmtBody(1) }, { "data", "12345678" } })
            .duration,
        0.4);
    // ... except that a zero-sized "data" chunk counts as none, so a later one is taken.
    EXPECT_EQ(readWav(dir, { { "fmt ", fmtBody(10) }, { "data", "" }, { "data", "12345" } }).duration, 0.5);
    // Bodies too small to be read are passed over, and a later well-formed chunk is used.
    EXPECT_EQ(
        readWav(dir, { { "acid", std::string(23, '\0') }, { "acid", acidBody(2, 69, 99) }, { "fmt ", "x" } }),
        (HeaderMetadata { 99, "A", std::nullopt }));
    // An "acid" body cut short by the end of the file is ignored; what came before still counts.
    const auto cut = riff({ { "fmt ", fmtBody(8) }, { "data", 16u } }) + std::string(16, '\0') + "acid"
        + le(24, 4) + acidBody(2, 60, 120).substr(0, 10);
    EXPECT_EQ(readWav(dir, cut), (HeaderMetadata { std::nullopt, std::nullopt, 2.0 }));
    // A chunk header cut short ends the walk.
    const auto tail = riff({ { "data", 0u }, { "fmt ", fmtBody(8) } }) + "dat";
    EXPECT_EQ(readWav(dir, tail).duration, std::nullopt);
    EXPECT_EQ(readWav(dir, tail + "a" + le(16, 4)).duration, 2.0);

    // At most 128 chunk headers are read: "data" as the 128th is found, as the 129th it is not.
    auto junkThen = [](int junk) {
        std::vector<Chunk> chunks(std::size_t(junk), Chunk { "pad ", "" });
        chunks.push_back({ "fmt ", fmtBody(4) });
        chunks.push_back({ "data", 8u });
        return riff(chunks);
    };
    EXPECT_EQ(readWav(dir, junkThen(126)).duration, 2.0);
    EXPECT_EQ(readWav(dir, junkThen(127)).duration, std::nullopt);

    // Wrong magic or short files: nothing.
    const std::string good
        = riff({ { "fmt ", fmtBody(4) }, { "acid", acidBody(2, 60, 120) }, { "data", 8u } });
    ASSERT_EQ(readWav(dir, good).bpm, 120);
    for (const std::string magic : { "RIFX", "RF64", "riff" })
        EXPECT_EQ(readWav(dir, magic + good.substr(4)), HeaderMetadata()) << magic;
    EXPECT_EQ(readWav(dir, good.substr(0, 8) + "WAVX" + good.substr(12)), HeaderMetadata());
    EXPECT_EQ(readWav(dir, good.substr(0, 11)), HeaderMetadata());
    // Only the extension chooses the reader: the same bytes under other names give nothing.
    for (const char* name : { "t.txt", "t.wave", ".wav" })
        EXPECT_EQ(readWav(dir, good, name), HeaderMetadata()) << name;
}

TEST(HeaderMetadata, WavReaderSeeksOverHugeSampleData)
{
    ScratchDir dir;
    // A 4 GiB "data" chunk (odd size, so padded) followed by "acid", in a sparse file.
    const std::string path
        = dir.write("Huge.wav", riff({ { "fmt ", fmtBody(176400) }, { "data", 0xffffffffu } }));
    const std::string acid = "acid" + le(24, 4) + acidBody(2, 59, 174.0f);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const off_t at = 12 + 24 + 8 + off_t(0xffffffffu) + 1;
    const bool written = ::pwrite(fd, acid.data(), acid.size(), at) == ssize_t(acid.size());
    ::close(fd);
    if (!written)
        GTEST_SKIP() << "no room for a sparse 4 GiB file here";
    const auto values = readHeaderMetadata(path);
    EXPECT_EQ(values.bpm, 174);
    EXPECT_EQ(values.key, "B");
    ASSERT_TRUE(values.duration);
    EXPECT_DOUBLE_EQ(*values.duration, double(0xffffffffu) / 176400.0);
}

TEST(HeaderMetadata, TagTextsFollowTheTempoAndKeyRules)
{
    // Rounded halves away from zero, in range, and the whole text a number.
    for (const auto& [text, tempo] :
        std::vector<std::pair<const char*, std::optional<std::int64_t>>> { { "120", 120 }, { "120.4", 120 },
            { "127.5", 128 }, { "+95", 95 }, { "1e2", 100 }, { "1e3", std::nullopt },
            { "400.5", std::nullopt }, { "39", std::nullopt }, { "-120", std::nullopt }, { "fast", {} },
            { "", {} }, { " 120", {} }, { "120 ", {} }, { "120bpm", {} }, { "120,5", {} }, { "inf", {} },
            { "nan", {} }, { "1e400", {} }, { "0x78", {} } })
        EXPECT_EQ(headerTempoFromText(text), tempo) << text;
    // Trimmed of any Unicode space; text that is not UTF-8 is kept as written.
    for (const auto& [text, key] :
        std::vector<std::pair<const char*, std::optional<std::string>>> { { "  F#m \t", "F#m" },
            { "Ebminor", "Ebminor" }, { "\n 11A ", "11A" }, { "\u00A0F#m\u3000", "F#m" },
            { "\u3000\u00A0", {} }, { "\xE9m ", "\xE9m" }, { " \t ", {} }, { "", {} } })
        EXPECT_EQ(headerKeyFromText(text), key) << text;
}

TEST(HeaderMetadata, TaggedFormatsGiveDurationTempoAndKeyFromTheFirstUsableItems)
{
    if (!haveTool("ffmpeg") || !haveTool("sox"))
        GTEST_SKIP() << "ffmpeg and sox make the test media";
    ScratchDir dir;
    const std::string d = dir.str();
    const std::string tone = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ar 44100 ";
    ASSERT_TRUE(kivo::test::shell(
        tone + "-c:a libmp3lame -metadata TBPM=120.4 -metadata TKEY=' F#m ' '" + d + "/a.mp3'"));
    ASSERT_TRUE(kivo::test::shell(tone + "-c:a libmp3lame '" + d + "/walk.mp3'"));
    ASSERT_TRUE(kivo::test::shell(tone + "-c:a aac '" + d + "/a.m4a'"));
    ASSERT_TRUE(kivo::test::shell(
        tone + "-c:a aac -write_id3v2 1 -metadata TBPM=96 -metadata TKEY=Gm '" + d + "/a.aac'"));
    ASSERT_TRUE(kivo::test::shell("sox -n -r 44100 -c 1 -b 16 '" + d + "/a.aiff' synth 1.5 sine 440"));
    ASSERT_TRUE(kivo::test::shell("sox -n -r 48000 -c 2 '" + d + "/a.flac' synth 2 sine 440"));
    // ffmpeg cannot write an m4a key; TagLib can: iTunes' integer tempo and the freeform key item.
    {
        TagLib::MP4::File file((d + "/a.m4a").c_str());
        ASSERT_TRUE(file.isValid());
        file.tag()->setItem("tmpo", TagLib::MP4::Item(174));
        file.tag()->setItem(
            "----:com.apple.iTunes:initialkey", TagLib::MP4::Item(TagLib::StringList(" Ebminor ")));
        ASSERT_TRUE(file.save());
    }
    // Items that cannot be used are passed over; the first usable tempo and key win.
    {
        TagLib::MPEG::File file((d + "/walk.mp3").c_str());
        ASSERT_TRUE(file.isValid());
        auto* tag = file.ID3v2Tag(true);
        auto text = [&](const char* id, const char* value) {
            auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
            frame->setText(value);
            tag->addFrame(frame);
        };
        auto user = [&](const char* description, const char* value) {
            tag->addFrame(
                new TagLib::ID3v2::UserTextIdentificationFrame(description, TagLib::StringList(value)));
        };
        text("TBPM", "fast");
        text("TKEY", "   ");
        user("BPM", "1e3");
        user("BPM", "126");
        user("INITIALKEY", " Dm ");
        text("TBPM", "90");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2));
    }
    const auto fingerprint = [](const std::string& path) {
        return std::pair(kivo::test::readFile(path), std::filesystem::last_write_time(path));
    };
    const auto walkBefore = fingerprint(d + "/walk.mp3");

    // Raw ADTS: tags from its ID3 header, the length from its frames (1024 samples each, the
    // encoder's priming frame included). AIFF and FLAC record their frame counts: exact lengths.
    for (const auto& [name, bpm, key, duration, tolerance] :
        std::vector<std::tuple<const char*, std::int64_t, const char*, double, double>> {
            { "a.mp3", 120, "F#m", 1.0, 0.1 }, { "walk.mp3", 126, "Dm", 1.0, 0.1 },
            { "a.m4a", 174, "Ebminor", 1.0, 0.1 }, { "a.aac", 96, "Gm", 1.0, 1024.0 * 2 / 44100 + 1e-9 },
            { "a.aiff", 0, "", 1.5, 0 }, { "a.flac", 0, "", 2.0, 0 } }) {
        const auto values = readHeaderMetadata(d + "/" + name);
        EXPECT_EQ(values.bpm, bpm ? std::optional(bpm) : std::nullopt) << name;
        EXPECT_EQ(values.key, *key ? std::optional<std::string>(key) : std::nullopt) << name;
        ASSERT_TRUE(values.duration) << name;
        EXPECT_NEAR(*values.duration, duration, tolerance) << name;
    }
    // Reading never changes a file.
    EXPECT_EQ(fingerprint(d + "/walk.mp3"), walkBefore);
}

TEST(HeaderMetadata, DamagedFilesGiveNothingAndNeverFail)
{
    ScratchDir dir;
    std::string noise;
    std::uint32_t x = 12345;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1664525u + 1013904223u;
        noise.push_back(char(x >> 24));
    }
    for (const char* ext : { "wav", "mp3", "m4a", "aac", "aiff", "flac", "mid" }) {
        const std::string name = std::string("noise.") + ext;
        EXPECT_EQ(readHeaderMetadata(dir.write(name, noise)).duration, std::nullopt) << name;
        EXPECT_EQ(readHeaderMetadata(dir.write(std::string("empty.") + ext, "")), HeaderMetadata()) << ext;
        EXPECT_EQ(readHeaderMetadata(dir.str() + "/missing." + ext), HeaderMetadata()) << ext;
        EXPECT_EQ(readHeaderMetadata(dir.mkdir(std::string("folder.") + ext)), HeaderMetadata()) << ext;
    }
    // Right magic, then nothing: each format's header cut short.
    EXPECT_EQ(readHeaderMetadata(dir.write("cut.flac", "fLaC\x80\x00"s)), HeaderMetadata());
    EXPECT_EQ(readHeaderMetadata(dir.write("cut.aiff", "FORM\0\0\0\x20"s + "AIFFCOMM")), HeaderMetadata());
    EXPECT_EQ(readHeaderMetadata(dir.write("cut.m4a", "\0\0\0\x20"s + "ftypM4A ")), HeaderMetadata());
    EXPECT_EQ(readHeaderMetadata(dir.write("cut.mp3", "ID3\x04\0\0\0\0\x10\0"s + "TBPM")), HeaderMetadata());

    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the truncated media";
    const std::string d = dir.str();
    ASSERT_TRUE(kivo::test::shell(
        "ffmpeg -v error -y -f lavfi -i sine=duration=2 -c:a aac -write_id3v2 1 -metadata TBPM=100 '" + d
        + "/whole.aac'"));
    const std::string bytes = kivo::test::readFile(d + "/whole.aac");
    // Cut in the middle of a frame: the tags survive, and whatever length is given is shorter.
    const auto cut = readHeaderMetadata(dir.write("half.aac", bytes.substr(0, bytes.size() / 2 + 3)));
    EXPECT_EQ(cut.bpm, 100);
    if (cut.duration) {
        EXPECT_LT(*cut.duration, 1.5);
    }

    // A playlist named ".aac" is no door to the files it names: not to another sample (whose
    // length it would report), not to a FIFO (on which the scan would wait for good).
    kivo::test::FifoWatchdog fifo(d + "/fifo", std::chrono::seconds(10));
    ASSERT_TRUE(fifo.made());
    for (const std::string& target : { d + "/whole.aac", fifo.path() })
        EXPECT_EQ(readHeaderMetadata(dir.write("list.aac", kivo::test::hlsPlaylistNaming(target))),
            HeaderMetadata())
            << target;
    EXPECT_FALSE(fifo.stop()) << "the FIFO was opened";
}

TEST(HeaderMetadata, MidiFilesGiveTheirInitialTempoOnly)
{
    using kivo::music::MIDIFileWriter;
    ScratchDir dir;
    auto midi
        = [&](std::uint16_t division, std::vector<std::uint32_t> tempos, const std::string& name = "t.mid") {
              MIDIFileWriter writer(1, division);
              const int track = writer.addTrack();
              for (std::size_t i = 0; i < tempos.size(); ++i)
                  writer.addTempo(track, std::int64_t(i) * 960, tempos[i]);
              writer.addNote(track, 0, 1920, 60, 100);
              const auto bytes = writer.bytes();
              return readHeaderMetadata(dir.write(name, std::string(bytes.begin(), bytes.end())));
          };
    // 500,000 microseconds per quarter note is 120 BPM; a MIDI file has no key or length here.
    EXPECT_EQ(midi(480, { 500000 }), (HeaderMetadata { 120, std::nullopt, std::nullopt }));
    EXPECT_EQ(midi(480, { 1000000, 400000 }, "Two.MIDI").bpm, 60); // the tempo it starts with
    // 400.4 and 40 BPM are in range, 38.96 and 60 million are not; SMPTE timing has no tempo.
    for (const auto& [division, tempos, bpm] :
        std::vector<std::tuple<std::uint16_t, std::vector<std::uint32_t>, std::optional<std::int64_t>>> {
            { 480, { 149850 }, 400 }, { 480, { 1500000 }, 40 }, { 480, { 1540000 }, {} }, { 480, { 1 }, {} },
            { 480, {}, {} }, { 0xE728, { 500000 }, {} } })
        EXPECT_EQ(midi(division, tempos).bpm, bpm) << tempos.size();
    EXPECT_EQ(readHeaderMetadata(dir.write("cut.mid", "MThd"s + std::string(3, '\0'))), HeaderMetadata());
}

TEST(HeaderMetadata, ScansReadHeadersByDefaultAndHeaderValuesWinOverNames)
{
    ScratchDir dir;
    dir.write("Pack Am/Loop 90bpm Cm.wav",
        riff({ { "fmt ", fmtBody(1000) }, { "acid", acidBody(2, 60 + 7, 128) }, { "data", 4000u } }));
    dir.write("Pack Am/Kick 100bpm.wav", riff({ { "fmt ", fmtBody(1000) }, { "data", 500u } }));
    CacheIndexStore store(kivo::index::test::quietStore(dir));
    const std::vector<ScanGroup> groups { { "G", { dir.str() + "/Pack Am" }, {} } };
    auto values = [&](const std::string& name) {
        const FileInfo file
            = store.read([&](const IndexMaps& m) { return m.fileIndex.at(dir.str() + "/Pack Am/" + name); });
        return std::tuple(file.bpm, file.key, file.duration);
    };

    buildIndex(store, groups, {});
    EXPECT_EQ(values("Loop 90bpm Cm.wav"), std::make_tuple(128, "G", 4.0));
    // No tempo or key in the header: the name, then the folder.
    EXPECT_EQ(values("Kick 100bpm.wav"), std::make_tuple(100, "Am", 0.5));

    // Without a reader, names and folders decide alone.
    ScanOptions nameOnly;
    nameOnly.reader = {};
    buildIndex(store, groups, {}, {}, nameOnly);
    EXPECT_EQ(values("Loop 90bpm Cm.wav"), std::make_tuple(90, "Cm", std::nullopt));
}

#include "SampleFileWriter.h"

#include <taglib/aifffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tpropertymap.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

namespace kivo::bench {

namespace {

// One shared block of audio (a decaying tone with a little grit) that every file slices from, so
// making a file costs a copy, not a synthesis.
const std::vector<std::int16_t>& toneSamples()
{
    static const std::vector<std::int16_t> samples = [] {
        std::vector<std::int16_t> s(1 << 17);
        std::uint32_t noise = 0x1234567u;
        for (std::size_t i = 0; i < s.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            const double t = double(i % 8192) / 44100.0;
            const double v = std::sin(2.0 * M_PI * 110.0 * t) * std::exp(-t * 20.0) * 0.8
                + (double(noise >> 16) / 65536.0 - 0.5) * 0.02;
            s[i] = std::int16_t(std::lround(v * 32767.0));
        }
        return s;
    }();
    return samples;
}

std::size_t sampleCount(const AudioShape& shape)
{
    return std::min(std::size_t(shape.frames) * std::size_t(shape.channels), toneSamples().size());
}

void putLE(std::string& out, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((v >> (8 * i)) & 0xff));
}

void putBE(std::string& out, std::uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(char((v >> (8 * i)) & 0xff));
}

void putFloatLE(std::string& out, float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    putLE(out, bits, 4);
}

void putExtraChunk(std::string& out, const ExtraChunk& chunk)
{
    out.append(chunk.id, 0, 4);
    putLE(out, chunk.size, 4);
    if (chunk.id == "LIST" && chunk.size >= 12) {
        // A well-formed INFO list whose software string fills the chunk.
        const std::uint32_t text = chunk.size - 12;
        out += "INFOISFT";
        putLE(out, text, 4);
        for (std::uint32_t i = 0; i < text; ++i)
            out.push_back(i + 1 == text ? '\0' : char('a' + i % 26));
    } else {
        out.append(chunk.size, '\0');
    }
    if (chunk.size % 2)
        out.push_back('\0');
}

std::string toBytes(const TagLib::ByteVector& v)
{
    return std::string(v.data(), v.size());
}

TagLib::PropertyMap tagProperties(const TagValues& tags)
{
    TagLib::PropertyMap map;
    if (!tags.title.empty())
        map.insert("TITLE", TagLib::StringList(TagLib::String(tags.title, TagLib::String::UTF8)));
    if (tags.bpm)
        map.insert("BPM", TagLib::StringList(TagLib::String(*tags.bpm, TagLib::String::UTF8)));
    if (tags.key)
        map.insert("INITIALKEY", TagLib::StringList(TagLib::String(*tags.key, TagLib::String::UTF8)));
    return map;
}

// FLAC frame checksums: CRC-8 (x^8+x^2+x+1) over the header, CRC-16 (x^16+x^15+x^2+1) over the frame.
std::uint8_t crc8(const std::string& bytes, std::size_t from)
{
    std::uint8_t crc = 0;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= std::uint8_t(bytes[i]);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80) ? std::uint8_t((crc << 1) ^ 0x07) : std::uint8_t(crc << 1);
    }
    return crc;
}

std::uint16_t crc16(const std::string& bytes, std::size_t from)
{
    std::uint16_t crc = 0;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= std::uint16_t(std::uint8_t(bytes[i]) << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x8005) : std::uint16_t(crc << 1);
    }
    return crc;
}

void putVarLen(std::string& out, std::uint32_t v)
{
    char buf[5];
    int n = 0;
    buf[n++] = char(v & 0x7f);
    while (v >>= 7)
        buf[n++] = char(0x80 | (v & 0x7f));
    while (n)
        out.push_back(buf[--n]);
}

struct MidiEvent {
    std::uint32_t tick;
    int order; // tempo before notes at the same tick, note-offs before note-ons
    std::string bytes;
};

std::string midiTrack(std::vector<MidiEvent> events, bool runningStatus)
{
    std::stable_sort(events.begin(), events.end(), [](const MidiEvent& a, const MidiEvent& b) {
        return std::tie(a.tick, a.order) < std::tie(b.tick, b.order);
    });
    std::string body;
    std::uint32_t now = 0;
    char status = 0;
    for (const auto& e : events) {
        putVarLen(body, e.tick - now);
        now = e.tick;
        const bool channelMessage = (std::uint8_t(e.bytes[0]) & 0xf0) != 0xf0;
        if (runningStatus && channelMessage && e.bytes[0] == status) {
            body.append(e.bytes, 1, std::string::npos);
        } else {
            body += e.bytes;
            status = channelMessage ? e.bytes[0] : 0;
        }
    }
    body += std::string("\x00\xff\x2f\x00", 4);
    std::string track = "MTrk";
    putBE(track, body.size(), 4);
    return track + body;
}

MidiEvent tempoEvent(std::uint32_t tick, double bpm)
{
    const auto micros = std::uint32_t(std::lround(60'000'000.0 / bpm));
    std::string b("\xff\x51\x03", 3);
    putBE(b, micros, 3);
    return { tick, 0, b };
}

} // namespace

std::string wavBytes(const WavLayout& layout)
{
    const auto& tone = toneSamples();
    const std::size_t samples = sampleCount(layout.shape);
    std::string out;
    out.reserve(64 + samples * 2 + 256);
    out += "RIFF";
    putLE(out, 0, 4); // patched below
    out += "WAVE";

    auto putAcid = [&] {
        const AcidInfo& a = *layout.acid;
        out += "acid";
        putLE(out, 24, 4);
        putLE(out, (a.oneShot ? 1u : 0u) | (a.rootValid ? 2u : 0u), 4);
        putLE(out, std::uint32_t(a.rootNote), 2);
        putLE(out, 0x8000, 2);
        putFloatLE(out, 0.0f);
        putLE(out, 8, 4); // beats
        putLE(out, 4, 2);
        putLE(out, 4, 2);
        putFloatLE(out, a.bpm);
    };

    for (const auto& c : layout.beforeFormat)
        putExtraChunk(out, c);
    if (layout.acid && layout.acidBeforeFormat)
        putAcid();

    const int channels = layout.shape.channels;
    out += "fmt ";
    putLE(out, 16, 4);
    putLE(out, 1, 2);
    putLE(out, std::uint32_t(channels), 2);
    putLE(out, std::uint32_t(layout.shape.sampleRate), 4);
    putLE(out, std::uint32_t(layout.shape.sampleRate * channels * 2), 4);
    putLE(out, std::uint32_t(channels * 2), 2);
    putLE(out, 16, 2);

    if (layout.acid && !layout.acidBeforeFormat)
        putAcid();
    for (const auto& c : layout.beforeData)
        putExtraChunk(out, c);

    out += "data";
    putLE(out, samples * 2, 4);
    out.append(reinterpret_cast<const char*>(tone.data()), samples * 2); // the host is little-endian
    for (const auto& c : layout.afterData)
        putExtraChunk(out, c);

    const std::uint32_t riffSize = std::uint32_t(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = char((riffSize >> (8 * i)) & 0xff);
    return out;
}

std::string aiffBytes(const AudioShape& shape, const TagValues& tags)
{
    const auto& tone = toneSamples();
    const std::size_t samples = sampleCount(shape);
    std::string out = "FORM";
    putBE(out, 0, 4);
    out += "AIFF";
    out += "COMM";
    putBE(out, 18, 4);
    putBE(out, std::uint32_t(shape.channels), 2);
    putBE(out, std::uint32_t(samples / std::size_t(shape.channels)), 4);
    putBE(out, 16, 2);
    // 80-bit extended sample rate: a whole number, so exponent and a left-aligned mantissa.
    const auto rate = std::uint64_t(shape.sampleRate);
    const int top = 63 - __builtin_clzll(rate);
    putBE(out, std::uint64_t(16383 + top), 2);
    putBE(out, rate << (63 - top), 8);
    out += "SSND";
    putBE(out, 8 + samples * 2, 4);
    putBE(out, 0, 4);
    putBE(out, 0, 4);
    for (std::size_t i = 0; i < samples; ++i)
        putBE(out, std::uint16_t(tone[i]), 2);
    const std::uint32_t formSize = std::uint32_t(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = char((formSize >> (8 * (3 - i))) & 0xff);

    TagLib::ByteVector data(out.data(), static_cast<unsigned int>(out.size()));
    TagLib::ByteVectorStream stream(data);
    {
        TagLib::RIFF::AIFF::File file(&stream, false);
        if (file.isValid()) {
            file.setProperties(tagProperties(tags));
            file.save();
        }
    }
    return toBytes(*stream.data());
}

std::string flacBytes(const AudioShape& shape, const TagValues& tags)
{
    constexpr std::uint32_t kBlock = 4096;
    const std::uint64_t frames = std::uint64_t(std::max(shape.frames, 1));
    const int channels = std::clamp(shape.channels, 1, 2);
    const std::uint64_t rate = std::uint64_t(shape.sampleRate);

    std::string out = "fLaC";
    out.push_back(char(0x80)); // last metadata block, STREAMINFO
    putBE(out, 34, 3);
    putBE(out, kBlock, 2);
    putBE(out, kBlock, 2);
    putBE(out, 0, 3);
    putBE(out, 0, 3);
    putBE(out, (rate << 44) | (std::uint64_t(channels - 1) << 41) | (std::uint64_t(15) << 36) | frames, 8);
    out.append(16, '\0'); // MD5 unknown

    // Constant (silent) subframes: tiny but fully decodable frames.
    // Rates without a code of their own (0) are taken from STREAMINFO by decoders.
    const int rateCode = rate == 48000 ? 0xA : rate == 44100 ? 0x9 : 0x0;
    std::uint32_t number = 0;
    for (std::uint64_t done = 0; done < frames; done += kBlock, ++number) {
        const std::size_t start = out.size();
        const auto size = std::uint32_t(std::min<std::uint64_t>(kBlock, frames - done));
        out.push_back(char(0xff));
        out.push_back(char(0xf8));
        out.push_back(char(((size == kBlock ? 0xC : 0x7) << 4) | rateCode));
        out.push_back(char(((channels - 1) << 4) | (0x4 << 1)));
        if (number < 0x80) {
            out.push_back(char(number));
        } else {
            out.push_back(char(0xC0 | (number >> 6)));
            out.push_back(char(0x80 | (number & 0x3f)));
        }
        if (size != kBlock)
            putBE(out, size - 1, 2);
        out.push_back(char(crc8(out, start)));
        for (int c = 0; c < channels; ++c) {
            out.push_back('\0');
            putBE(out, 0, 2);
        }
        putBE(out, crc16(out, start), 2);
    }

    TagLib::ByteVector data(out.data(), static_cast<unsigned int>(out.size()));
    TagLib::ByteVectorStream stream(data);
    {
        TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (file.isValid()) {
            file.setProperties(tagProperties(tags));
            file.save();
        }
    }
    return toBytes(*stream.data());
}

std::string mp3Bytes(int mpegFrames, const TagValues& tags)
{
    // MPEG-1 layer III, 128 kbit/s, 44.1 kHz, mono: 417-byte frames whose zeroed side information
    // decodes as silence.
    constexpr std::size_t kFrameBytes = 417;
    std::string frame(kFrameBytes, '\0');
    frame[0] = char(0xff);
    frame[1] = char(0xfb);
    frame[2] = char(0x90);
    frame[3] = char(0xc4);
    std::string out;
    out.reserve(kFrameBytes * std::size_t(mpegFrames) + 256);
    for (int i = 0; i < std::max(mpegFrames, 2); ++i)
        out += frame;

    TagLib::ByteVector data(out.data(), static_cast<unsigned int>(out.size()));
    TagLib::ByteVectorStream stream(data);
    {
        TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (file.isValid()) {
            file.ID3v2Tag(true)->setProperties(tagProperties(tags));
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers);
        }
    }
    return toBytes(*stream.data());
}

std::string midiBytes(const MidiLayout& layout)
{
    constexpr std::uint32_t kDivision = 480;
    const std::uint32_t bar = kDivision * 4;
    std::vector<MidiEvent> tempo;
    std::vector<MidiEvent> notes;
    tempo.push_back({ 0, 0, std::string("\xff\x58\x04\x04\x02\x18\x08", 7) });
    if (layout.bpm)
        tempo.push_back(tempoEvent(0, *layout.bpm));
    if (layout.bpm && layout.laterBpm)
        tempo.push_back(tempoEvent(bar, *layout.laterBpm));

    static const int kChord[3] = { 0, 3, 7 };
    for (int beat = 0; beat < layout.bars * 4; ++beat) {
        const std::uint32_t on = std::uint32_t(beat) * kDivision;
        for (int i = 0; i < 3; ++i) {
            const char note = char(std::clamp(layout.rootNote + kChord[i] + (beat % 4 == 3 ? 5 : 0), 0, 127));
            notes.push_back({ on, 2, std::string { char(0x90), note, char(96 - 8 * i) } });
            // A note-on with velocity 0 ends half of the notes, as many sequencers write it.
            if (i % 2)
                notes.push_back({ on + kDivision / 2, 1, std::string { char(0x90), note, 0 } });
            else
                notes.push_back({ on + kDivision / 2, 1, std::string { char(0x80), note, 64 } });
        }
    }

    std::string out = "MThd";
    putBE(out, 6, 4);
    putBE(out, layout.formatOne ? 1 : 0, 2);
    putBE(out, layout.formatOne ? 2 : 1, 2);
    putBE(out, kDivision, 2);
    if (layout.formatOne) {
        out += midiTrack(tempo, false);
        out += midiTrack(notes, true);
    } else {
        tempo.insert(tempo.end(), notes.begin(), notes.end());
        out += midiTrack(tempo, true);
    }
    return out;
}

} // namespace kivo::bench

namespace kivo::bench {

std::string m4aBytes(const TagValues& tags)
{
    // An AAC stream in MP4 is too intricate to write by hand: ffmpeg encodes one short tone once per
    // process, and each file is that template tagged by TagLib in memory.
    static const std::string templateBytes = [] {
        char path[] = "/tmp/kivo-m4a-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0)
            throw std::runtime_error("no temporary file for the m4a template");
        ::close(fd);
        const std::string target = std::string(path) + ".m4a";
        const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=0.3 "
                                    "-c:a aac -b:a 48k '"
            + target + "'";
        const int status = std::system(command.c_str());
        std::ifstream in(target, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::remove(target.c_str());
        std::remove(path);
        if (status != 0 || bytes.empty())
            throw std::runtime_error("ffmpeg could not make the m4a template");
        return bytes;
    }();
    TagLib::ByteVector data(templateBytes.data(), static_cast<unsigned int>(templateBytes.size()));
    TagLib::ByteVectorStream stream(data);
    {
        TagLib::MP4::File file(&stream, false);
        if (file.isValid()) {
            file.setProperties(tagProperties(tags));
            file.save();
        }
    }
    return toBytes(*stream.data());
}

} // namespace kivo::bench

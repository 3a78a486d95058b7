// The tagged-format reader: duration and the tempo and initial-key tags of mp3, m4a, aiff and flac
// through TagLib, of raw ADTS ".aac" through FFmpeg's demuxer. Only headers, tags and (for ADTS) frame
// headers are read; no audio is decoded beyond the few frames FFmpeg probes to learn the stream's format.

#include "index/HeaderMetadata.h"
#include "index/ReadOnlyFileStream.h"
#include "platform/MediaInput.h"

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tdebuglistener.h>
#include <taglib/textidentificationframe.h>
#include <taglib/xiphcomment.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <chrono>
#include <cmath>
#include <mutex>

namespace kivo::index {

namespace {

// Time bounds of the ADTS read: opening and probing the stream, then summing every frame.
constexpr std::chrono::milliseconds kOpenBound { 5000 };
constexpr std::chrono::milliseconds kFrameWalkBound { 20000 };

// The metadata items of a file, offered in the file's order; keeps the first usable tempo and key.
class TagWalk {
public:
    bool done() const { return m_bpm && m_key; }

    void number(std::string_view id, long long value)
    {
        if (!m_bpm && isTempo(id) && value >= kMinHeaderBPM && value <= kMaxHeaderBPM)
            m_bpm = std::int64_t(value);
    }

    void text(std::string_view id, std::string_view value)
    {
        if (!m_bpm && isTempo(id))
            m_bpm = headerTempoFromText(value);
        else if (!m_key && isKey(id))
            m_key = headerKeyFromText(value);
    }

    void text(std::string_view id, const TagLib::String& value)
    {
        text(id, std::string_view(value.to8Bit(true)));
    }

    void into(HeaderMetadata& result)
    {
        result.bpm = m_bpm;
        result.key = std::move(m_key);
    }

private:
    static bool equalsIgnoringCase(std::string_view a, std::string_view b)
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (lower(a[i]) != lower(b[i]))
                return false;
        return true;
    }
    static char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

    // ID3's TBPM, iTunes' tmpo, and the plain "BPM" of Vorbis comments, APE and ID3 user frames.
    static bool isTempo(std::string_view id)
    {
        return id == "TBPM" || id == "tmpo" || equalsIgnoringCase(id, "BPM");
    }

    // ID3's TKEY, and every identifier ending in "initialkey": the iTunes freeform
    // "----:com.apple.iTunes:initialkey", Vorbis "INITIALKEY", user frames of that name.
    static bool isKey(std::string_view id)
    {
        constexpr std::string_view suffix = "initialkey";
        return id == "TKEY"
            || (id.size() >= suffix.size()
                && equalsIgnoringCase(id.substr(id.size() - suffix.size()), suffix));
    }

    std::optional<std::int64_t> m_bpm;
    std::optional<std::string> m_key;
};

void walkID3v2(const TagLib::ID3v2::Tag* tag, TagWalk& walk)
{
    if (!tag)
        return;
    for (const TagLib::ID3v2::Frame* frame : tag->frameList()) {
        if (walk.done())
            return;
        if (const auto* user = dynamic_cast<const TagLib::ID3v2::UserTextIdentificationFrame*>(frame)) {
            // A user frame is known by its description; its first field repeats that description.
            const TagLib::StringList fields = user->fieldList();
            if (fields.size() > 1)
                walk.text(user->description().to8Bit(true), fields[1]);
            continue;
        }
        const TagLib::ByteVector id = frame->frameID();
        walk.text(std::string_view(id.data(), id.size()), frame->toString());
    }
}

void walkXiph(const TagLib::Ogg::XiphComment* comment, TagWalk& walk)
{
    if (!comment)
        return;
    for (const auto& [field, values] : comment->fieldListMap()) {
        if (walk.done())
            return;
        if (!values.isEmpty())
            walk.text(field.to8Bit(true), values.front());
    }
}

void walkAPE(const TagLib::APE::Tag* tag, TagWalk& walk)
{
    if (!tag)
        return;
    for (const auto& [key, item] : tag->itemListMap()) {
        if (walk.done())
            return;
        if (item.type() == TagLib::APE::Item::Text && !item.values().isEmpty())
            walk.text(key.to8Bit(true), item.values().front());
    }
}

void walkMP4(const TagLib::MP4::Tag* tag, TagWalk& walk)
{
    if (!tag)
        return;
    for (const auto& [key, item] : tag->itemMap()) {
        if (walk.done())
            return;
        const std::string id = key.to8Bit(true);
        const TagLib::StringList texts = item.toStringList();
        if (!texts.isEmpty())
            walk.text(id, texts.front());
        else if (id == "tmpo")
            walk.number(id, item.toInt());
    }
}

std::optional<double> positiveSeconds(double seconds)
{
    if (std::isfinite(seconds) && seconds > 0)
        return seconds;
    return std::nullopt;
}

std::optional<double> durationOf(const TagLib::AudioProperties* properties)
{
    if (!properties)
        return std::nullopt;
    return positiveSeconds(properties->lengthInMilliseconds() / 1000.0);
}

// Frame counts give the exact length where the format records them; elsewhere TagLib's milliseconds.
template <typename Properties> std::optional<double> framesDuration(const Properties* properties)
{
    if (!properties || properties->sampleRate() <= 0)
        return durationOf(properties);
    return positiveSeconds(double(properties->sampleFrames()) / double(properties->sampleRate()));
}

class SilentTagLib : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override { }
};

void quietLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static SilentTagLib silent;
        TagLib::setDebugListener(&silent);
    });
}

std::string lowerExtension(const std::string& path)
{
    const auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

HeaderMetadata readWithTagLib(const std::string& path, const std::string& ext)
{
    HeaderMetadata result;
    // Our own read-only stream: TagLib's would try to open the file for writing first.
    ReadOnlyFileStream stream(path);
    if (!stream.isOpen())
        return result;
    TagWalk walk;
    auto* frames = TagLib::ID3v2::FrameFactory::instance();
    if (ext == "mp3") {
        TagLib::MPEG::File file(&stream, frames, true, TagLib::AudioProperties::Average);
        if (!file.isValid())
            return result;
        result.duration = durationOf(file.audioProperties());
        walkID3v2(file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr, walk);
        walkAPE(file.hasAPETag() ? file.APETag() : nullptr, walk);
    } else if (ext == "m4a") {
        TagLib::MP4::File file(&stream, true, TagLib::AudioProperties::Average);
        if (!file.isValid())
            return result;
        result.duration = durationOf(file.audioProperties());
        walkMP4(file.tag(), walk);
    } else if (ext == "aiff") {
        TagLib::RIFF::AIFF::File file(&stream, true, TagLib::AudioProperties::Average);
        if (!file.isValid())
            return result;
        result.duration = framesDuration(file.audioProperties());
        walkID3v2(file.hasID3v2Tag() ? file.tag() : nullptr, walk);
    } else if (ext == "flac") {
        TagLib::FLAC::File file(&stream, frames, true, TagLib::AudioProperties::Average);
        if (!file.isValid())
            return result;
        result.duration = framesDuration(file.audioProperties());
        walkXiph(file.hasXiphComment() ? file.xiphComment() : nullptr, walk);
        walkID3v2(file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr, walk);
    }
    walk.into(result);
    return result;
}

void walkDictionary(const AVDictionary* dictionary, TagWalk& walk)
{
    const AVDictionaryEntry* entry = nullptr;
    while (!walk.done() && (entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
        walk.text(entry->key, entry->value ? std::string_view(entry->value) : std::string_view());
}

// Raw ADTS records no length, and FFmpeg's own figure for it is only a guess from the bit rate: there
// the length is the sum of the frames' lengths, which the demuxer takes from the frame headers.
// Containers that record a length give it at once.
std::optional<double> demuxedDuration(platform::MediaInput& input)
{
    AVFormatContext* context = input.format();
    if (avformat_find_stream_info(context, nullptr) < 0)
        return std::nullopt;
    if (context->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        if (context->duration == AV_NOPTS_VALUE)
            return std::nullopt;
        return positiveSeconds(double(context->duration) / AV_TIME_BASE);
    }
    const int audio = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio < 0)
        return std::nullopt;
    const AVRational timeBase = context->streams[audio]->time_base;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = int(i) == audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        return std::nullopt;
    std::int64_t ticks = 0;
    bool unmeasured = false;
    while (av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == audio) {
            if (packet->duration > 0)
                ticks += packet->duration;
            else
                unmeasured = true;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    // A walk cut short by the time bound has not seen every frame.
    if (input.expired() || unmeasured || ticks <= 0 || timeBase.num <= 0 || timeBase.den <= 0)
        return std::nullopt;
    return positiveSeconds(double(ticks) * av_q2d(timeBase));
}

HeaderMetadata readWithFFmpeg(const std::string& path)
{
    HeaderMetadata result;
    auto input = platform::MediaInput::open(path, kOpenBound);
    if (!input)
        return result;
    AVFormatContext* context = input->format();
    TagWalk walk;
    walkDictionary(context->metadata, walk);
    for (unsigned i = 0; i < context->nb_streams && !walk.done(); ++i)
        walkDictionary(context->streams[i]->metadata, walk);
    walk.into(result);
    // Summing the frames reads the whole file: a longer bound, still a bound.
    input->allow(kFrameWalkBound);
    result.duration = demuxedDuration(*input);
    return result;
}

} // namespace

HeaderMetadata readTaggedHeader(const std::string& path)
{
    quietLibraries();
    const std::string ext = lowerExtension(path);
    if (ext == "aac")
        return readWithFFmpeg(path);
    return readWithTagLib(path, ext);
}

} // namespace kivo::index

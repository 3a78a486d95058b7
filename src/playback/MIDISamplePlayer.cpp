#include "MIDISamplePlayer.h"

#include "AudioEngine.h"
#include "Audition.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace kivo::playback {

namespace {

// Nothing that size is a MIDI file; reading it would only exhaust memory.
constexpr std::uintmax_t kMaxFileBytes = 256ull << 20;

} // namespace

std::optional<std::vector<uint8_t>> MIDISamplePlayer::readFile(const std::string& path)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileBytes)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size)))
        return std::nullopt;
    return bytes;
}

namespace {

uint64_t nextPlayerID()
{
    static std::atomic<uint64_t> counter { 0 };
    return ++counter; // 0 is the sampler's "nobody"
}

} // namespace

std::unique_ptr<MIDISamplePlayer> MIDISamplePlayer::create(
    Audition& audition, const std::string& path, const MIDIInstrument& sound)
{
    const std::string fileName = std::filesystem::path(path).filename().string();
    std::optional<std::vector<uint8_t>> bytes = readFile(path);
    if (!bytes) {
        audition.log("Error loading MIDI file: no readable notes in " + fileName);
        return nullptr;
    }
    return fromBytes(audition, *bytes, fileName, sound);
}

std::unique_ptr<MIDISamplePlayer> MIDISamplePlayer::fromBytes(Audition& audition,
    std::span<const uint8_t> bytes, const std::string& fileName, const MIDIInstrument& sound)
{
    std::optional<music::MIDIFileData> data = music::MIDIFileParser::parse(bytes);
    if (!data || data->notes.empty()) {
        audition.log("Error loading MIDI file: no readable notes in " + fileName);
        return nullptr;
    }
    if (!(data->duration > 0))
        return nullptr;
    std::unique_ptr<MIDISamplePlayer> player(new MIDISamplePlayer(audition, std::move(*data)));
    audition.loadInstrument(sound);
    audition.setOwner(player.get());
    return player;
}

MIDISamplePlayer::MIDISamplePlayer(Audition& audition, music::MIDIFileData data)
    : m_audition(audition)
    , m_id(nextPlayerID())
    , m_notes(std::move(data.notes))
    , m_duration(data.duration)
{
}

MIDISamplePlayer::~MIDISamplePlayer()
{
    clearSchedule();
    if (m_audition.owner() == this) {
        m_audition.setOwner(nullptr);
        m_audition.allNotesOff();
        m_audition.scheduleIdleStop();
    }
}

void MIDISamplePlayer::play()
{
    if (std::optional<std::string> error = m_audition.ensureRunning()) {
        m_audition.log("Error starting MIDI playback: " + *error);
        return;
    }
    const double start = m_pausedPosition >= m_duration ? 0.0 : m_pausedPosition;
    m_anchor = m_audition.now() - start / m_rate;
    m_isPlaying = true;
    schedule(start);
}

void MIDISamplePlayer::pause()
{
    if (m_isPlaying && m_anchor) {
        const double reached = (m_audition.now() - *m_anchor) * m_rate;
        m_pausedPosition = std::isnan(reached) ? 0.0 : std::clamp(reached, 0.0, m_duration);
    }
    m_isPlaying = false;
    m_anchor.reset();
    cancelScheduledEvents();
    m_audition.scheduleIdleStop();
}

void MIDISamplePlayer::cancelScheduledEvents()
{
    clearSchedule();
    m_audition.allNotesOff();
}

void MIDISamplePlayer::clearSchedule()
{
    m_audition.sampler().clearSchedule(m_id);
}

void MIDISamplePlayer::schedule(double from)
{
    AudioEngine& engine = m_audition.engine();
    const double rate = engine.sampleRate();
    // Delays count from the next frame the engine renders.
    const int64_t base = engine.renderedFrames();
    // File seconds become played seconds at the preview's rate.
    auto frameAfter = [&](double seconds) {
        return base + int64_t(std::llround(std::max(seconds, 0.0) / m_rate * rate));
    };

    auto next = std::make_unique<NoteSchedule>();
    next->owner = m_id;
    next->events.reserve(m_notes.size() * 2);
    for (const music::MIDINote& note : m_notes) {
        const double end = note.start + note.duration;
        if (!(end > from))
            continue;
        // Keys a sampler cannot play, from damaged files, are left out.
        if (note.pitch < 0 || note.pitch > 127 || note.channel < 0 || note.channel > 15)
            continue;
        int64_t onFrame;
        if (note.start >= from)
            onFrame = frameAfter(note.start - from);
        else if (m_catchNotes)
            onFrame = base; // already sounding at the position: start it at once
        else
            continue;
        const int64_t offFrame = std::max(frameAfter(end - from), onFrame + 1);
        const auto key = uint8_t(note.pitch), channel = uint8_t(note.channel);
        const auto velocity = uint8_t(std::clamp(note.velocity, 0, 127));
        next->events.push_back({ onFrame, NoteEvent::NoteOn, key, velocity, channel });
        next->events.push_back({ offFrame, NoteEvent::NoteOff, key, 0, channel });
    }
    // On one frame, a note that ends goes before one that starts, so a repeated key sounds.
    std::stable_sort(next->events.begin(), next->events.end(), [](const NoteEvent& a, const NoteEvent& b) {
        if (a.frame != b.frame)
            return a.frame < b.frame;
        return a.kind == NoteEvent::NoteOff && b.kind != NoteEvent::NoteOff;
    });
    m_audition.sampler().setSchedule(std::move(next));
}

void MIDISamplePlayer::playFrom(double position)
{
    setCurrentTime(position);
    if (!m_isPlaying)
        play();
}

void MIDISamplePlayer::stop()
{
    pause();
    m_pausedPosition = 0;
}

double MIDISamplePlayer::currentTime() const
{
    if (m_isPlaying && m_anchor) {
        const double t = (m_audition.now() - *m_anchor) * m_rate;
        return std::isnan(t) ? 0.0 : std::clamp(t, 0.0, m_duration);
    }
    return m_pausedPosition;
}

void MIDISamplePlayer::setRate(double rate)
{
    if (!(rate > 0) || !std::isfinite(rate) || rate == m_rate)
        return;
    const double position = currentTime();
    m_rate = rate;
    if (m_isPlaying)
        setCurrentTime(position);
}

void MIDISamplePlayer::setCurrentTime(double seconds)
{
    m_pausedPosition = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, m_duration);
    cancelScheduledEvents();
    if (m_isPlaying) {
        m_anchor = m_audition.now() - m_pausedPosition / m_rate;
        schedule(m_pausedPosition);
    }
}

} // namespace kivo::playback

#include "AudioPlayerManager.h"

#include "AudioEngine.h"
#include "AudioFilePlayer.h"
#include "MIDISamplePlayer.h"
#include "RepeatingTimer.h"
#include "library/MissingFileTracker.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/TaskRunner.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace kivo::playback {

namespace {

void logLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool isMIDIFile(const QUrl& url)
{
    const QString ext = QFileInfo(url.toLocalFile()).suffix().toLower();
    return ext == QLatin1String("mid") || ext == QLatin1String("midi");
}

} // namespace

// What opening a selected file found, off the main thread.
struct AudioPlayerManager::Opened {
    bool exists = false;
    bool midi = false;
    std::optional<std::vector<uint8_t>> midiBytes;
    std::unique_ptr<AudioFilePlayer> audio; // opened, not attached yet
    std::string error;
    SampleMusic music;
};

namespace {

AudioPlayerManager::Opened openFile(const std::string& path, bool midi,
    const std::shared_ptr<StretcherPool>& stretchers, int rate,
    const std::function<void(const std::string&)>& willOpen,
    const AudioPlayerManager::Options::MusicLookup& music, const ProjectSync& project)
{
    AudioPlayerManager::Opened out;
    if (willOpen)
        willOpen(path);
    std::error_code ec;
    out.exists = std::filesystem::exists(path, ec);
    out.midi = midi;
    if (!out.exists)
        return out;
    if (music)
        out.music = music(path);
    if (midi)
        out.midiBytes = MIDISamplePlayer::readFile(path);
    else
        out.audio = AudioFilePlayer::open(stretchers, rate, path, out.error,
            [&](double duration) { return stretchFor(project, out.music, duration); });
    return out;
}

} // namespace

AudioPlayerManager::AudioPlayerManager(Options options, QObject* parent)
    : QObject(parent)
    , m_engine(*options.engine)
    , m_clock(options.clock ? *options.clock : platform::Clock::system())
    , m_tracker(*options.tracker)
    , m_midiEngine(options.midiEngine)
    , m_tasks(options.tasks)
    , m_willOpen(std::move(options.willOpen))
    , m_musicLookup(std::move(options.musicLookup))
    , m_project(options.project)
    , m_autoPauseWhenUnfocused(options.autoPauseWhenUnfocused)
    , m_midiCatchNotes(options.midiCatchNotes)
    , m_midiOctaveShift(options.midiOctaveShift)
    , m_midiInstrument(options.midiInstrument)
    , m_storeVolume(std::move(options.storeVolume))
{
    m_volumeControl.setPosition(std::clamp(options.volume, 0.0f, 1.0f));
    // Setting the stored value above is the first value, so it is applied but never written back.
    applyGain();
    connect(&m_volumeControl, &VolumeControl::positionChanged, this, [this] {
        applyGain();
        scheduleVolumeWrite();
    });

    if (m_midiEngine) {
        const int instrument = m_midiInstrument;
        QPointer<AudioPlayerManager> self(this);
        m_instrumentLoad = m_clock.after(kInstrumentLoadDelay, [self, instrument] {
            if (self && self->m_midiEngine)
                self->m_midiEngine->loadInstrument(instrument);
        });
    }
    // The MIDI meter reads the mixer output; the batches are drained on the meter timer.
    m_engine.tap().setEnabled(true);

    auto& center = platform::NotificationCenter::shared();
    center.observe(
        QStringLiteral("UserSettingsPathsSynced"), this, [this](const QVariantMap&) { resetPlayer(); });
    center.observe(QStringLiteral("stopAudioNotification"), this, [this](const QVariantMap&) { stop(); });
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &AudioPlayerManager::applicationWillTerminate);
}

AudioPlayerManager::~AudioPlayerManager()
{
    if (m_opening)
        m_opening->cancel();
    dropAhead();
    if (m_volumeWrite)
        m_volumeWrite->cancel();
    if (m_instrumentLoad)
        m_instrumentLoad->cancel();
    m_timer.reset();
    m_meterTimer.reset();
    m_audioPlayer.reset();
    m_midiPlayer.reset();
}

float AudioPlayerManager::gain() const
{
    KIVO_MAIN_THREAD();
    return volumeGain(m_volumeControl.position());
}

bool AudioPlayerManager::isPlaying() const
{
    KIVO_MAIN_THREAD();
    if (m_midiPlayer)
        return m_midiPlayer->isPlaying();
    return m_audioPlayer && m_audioPlayer->isPlaying();
}

double AudioPlayerManager::duration() const
{
    KIVO_MAIN_THREAD();
    if (m_midiPlayer)
        return m_midiPlayer->duration();
    if (m_audioPlayer)
        return m_audioPlayer->duration();
    return 0;
}

double AudioPlayerManager::currentTime() const
{
    KIVO_MAIN_THREAD();
    if (m_midiPlayer) {
        const auto anchor = m_midiPlayer->anchor();
        if (m_midiPlayer->isPlaying() && anchor && m_midiEngine) {
            const double t = (m_midiEngine->now() - *anchor) * m_midiPlayer->rate();
            return std::isfinite(t) ? std::clamp(t, 0.0, m_midiPlayer->duration()) : 0.0;
        }
        return m_midiPlayer->pausedPosition();
    }
    if (m_audioPlayer)
        return m_audioPlayer->currentTime();
    return 0;
}

void AudioPlayerManager::setCurrentTime(double seconds)
{
    KIVO_MAIN_THREAD();
    if (!std::isfinite(seconds))
        seconds = 0;
    if (m_audioPlayer) {
        m_audioPlayer->setCurrentTime(seconds);
        return;
    }
    if (!m_midiPlayer)
        return;
    const double position = std::clamp(seconds, 0.0, m_midiPlayer->duration());
    m_midiPlayer->setPausedPosition(position);
    m_midiPlayer->cancelScheduledEvents();
    if (m_midiPlayer->isPlaying()) {
        m_midiPlayer->setAnchor((m_midiEngine ? m_midiEngine->now() : 0.0) - position / m_midiPlayer->rate());
        m_midiPlayer->schedule(position);
    }
}

void AudioPlayerManager::load(const QUrl& url)
{
    KIVO_MAIN_THREAD();
    open(url, Start::Load);
}

void AudioPlayerManager::play(const QUrl& url)
{
    KIVO_MAIN_THREAD();
    // The selected file was opened (or is opening) with its start decoded, and stretched where the
    // project asks, ahead of this: it plays as it is rather than being opened and primed again,
    // so a stretched preview sounds as soon as a plain one.
    if (!url.isEmpty() && url == m_currentFile.url() && !m_resumeAt) {
        if (m_opening) {
            m_openingStart = Start::Play;
            return;
        }
        if (m_audioPlayer && !m_audioPlayer->isPlaying() && !m_audioPlayer->isAtEnd()
            && m_audioPlayer->currentTime() == 0) {
            m_playback.setProgress(0);
            startPlayback();
            return;
        }
    }
    open(url, Start::Play);
}

void AudioPlayerManager::open(const QUrl& url, Start start, std::optional<double> resumeAt)
{
    stop();
    m_resumeAt = resumeAt;
    // A newer selection always wins over one still opening.
    if (m_opening) {
        m_opening->cancel();
        m_opening.reset();
    }
    std::optional<Ahead> ahead;
    if (m_ahead && m_ahead->url == url && !resumeAt && m_tasks)
        ahead = std::exchange(m_ahead, std::nullopt);
    if (ahead && ahead->wait)
        ahead->wait->cancel();
    if (url.isEmpty() || !url.isLocalFile())
        return;
    const std::string path = url.toLocalFile().toStdString();
    const bool midi = isMIDIFile(url);
    if (!midi)
        m_engine.start(); // fixes the rate the file is decoded at
    const int rate = m_engine.sampleRate();
    Options::MusicLookup music = m_musicLookup ? m_musicLookup() : Options::MusicLookup();
    if (!m_tasks) {
        opened(url, start, openFile(path, midi, m_engine.stretchers(), rate, m_willOpen, music, m_project));
        return;
    }
    // The previous file goes at once, so nothing of it plays while the next one opens; the new
    // one is shown as selected meanwhile.
    if (m_audioPlayer)
        engineIdle();
    m_audioPlayer.reset();
    m_midiPlayer.reset();
    m_currentFile.setUrl(url);
    m_playback.setProgress(0);
    m_openingStart = start;
    if (ahead && ahead->file) {
        // Opened ahead of the selection: it plays with no wait at all.
        opened(url, start, std::move(*ahead->file));
        emit fileOpened();
        return;
    }
    m_openingSerial = ++m_openSerial;
    if (ahead && ahead->opening) {
        m_openingSerial = ahead->serial; // its answer now goes to the selection
        m_opening = std::move(ahead->opening);
        return;
    }
    m_opening = startOpening(url, rate, std::move(music), m_openingSerial);
}

platform::CancelHandle AudioPlayerManager::startOpening(
    const QUrl& url, int rate, Options::MusicLookup music, std::uint64_t serial)
{
    const std::string path = url.toLocalFile().toStdString();
    // The work holds the stretchers, never the engine: the manager and its engine may go while it runs.
    return m_tasks->run(
        this,
        [path, midi = isMIDIFile(url), stretchers = m_engine.stretchers(), rate, willOpen = m_willOpen,
            music = std::move(music), project = m_project] {
            return std::make_shared<Opened>(openFile(path, midi, stretchers, rate, willOpen, music, project));
        },
        [this, url, serial](std::shared_ptr<Opened> file) {
            if (m_ahead && m_ahead->serial == serial) {
                m_ahead->opening.reset();
                m_ahead->file = std::move(file);
                return;
            }
            if (serial != m_openingSerial || !m_opening)
                return;
            m_opening.reset();
            opened(url, m_openingStart, std::move(*file));
            emit fileOpened();
        });
}

void AudioPlayerManager::prepareAhead(const QUrl& url)
{
    KIVO_MAIN_THREAD();
    if (m_ahead && m_ahead->url == url)
        return;
    dropAhead();
    // Only where opening is in the background, and only audio: a MIDI file opens in no time.
    if (!m_tasks || url.isEmpty() || !url.isLocalFile() || isMIDIFile(url) || url == m_currentFile.url())
        return;
    Ahead ahead;
    ahead.url = url;
    ahead.serial = ++m_openSerial;
    QPointer<AudioPlayerManager> self(this);
    ahead.wait = m_clock.after(kAheadDelay, [self, serial = ahead.serial] {
        if (!self || !self->m_ahead || self->m_ahead->serial != serial)
            return;
        self->m_engine.start();
        self->m_ahead->opening = self->startOpening(self->m_ahead->url, self->m_engine.sampleRate(),
            self->m_musicLookup ? self->m_musicLookup() : Options::MusicLookup(), serial);
    });
    m_ahead = std::move(ahead);
}

void AudioPlayerManager::dropAhead()
{
    if (m_ahead && m_ahead->wait)
        m_ahead->wait->cancel();
    if (m_ahead && m_ahead->opening)
        m_ahead->opening->cancel();
    m_ahead.reset();
}

void AudioPlayerManager::opened(const QUrl& url, Start start, Opened file)
{
    const QString path = url.toLocalFile();
    if (!file.exists) {
        m_currentFile.setUrl(QUrl());
        m_playback.setProgress(0);
        m_tracker.reportMissing(path, library::MissingFileTracker::ItemKind::file);
        return;
    }
    m_tracker.markFound(path);
    m_music = file.music;
    m_currentFile.setUrl(url);
    m_playback.setProgress(0);
    if (file.midi)
        openMIDI(url, start, file.midiBytes ? &*file.midiBytes : nullptr);
    else
        openAudio(start, std::move(file.audio), file.error);
}

void AudioPlayerManager::openMIDI(const QUrl& url, Start start, const std::vector<uint8_t>* bytes)
{
    if (m_audioPlayer)
        engineIdle();
    m_audioPlayer.reset();
    m_midiPlayer.reset(); // the old file's notes end before the new file is read
    m_midiPlayer = makeMIDIPlayer(url, bytes ? *bytes : std::vector<uint8_t>());
    if (start == Start::Load) {
        if (m_midiEngine)
            m_midiEngine->ensureRunning(); // warms the engine; a failure shows when playing
        return;
    }
    if (!m_midiPlayer)
        return;
    drainTap();
    m_midiMeterQueue.clear();
    m_midiPlayer->play();
    restartTimers();
}

void AudioPlayerManager::openAudio(
    Start start, std::unique_ptr<AudioFilePlayer> player, const std::string& error)
{
    m_midiPlayer.reset();
    m_audioPlayer.reset(); // the engine plays one file at a time
    if (!player) {
        logLine((start == Start::Load ? QStringLiteral("Error loading audio: ")
                                      : QStringLiteral("Error playing audio: "))
            + QString::fromStdString(error));
        engineIdle();
        return;
    }
    if (player->sampleRate() != m_engine.sampleRate()) {
        // The output moved to another rate while the file opened.
        open(m_currentFile.url(), start, m_resumeAt);
        return;
    }
    m_audioPlayer = std::move(player);
    m_engine.start();
    // The project may have changed while the file opened.
    m_audioPlayer->setStretch(stretchFor(m_project, m_music, m_audioPlayer->duration()));
    m_audioPlayer->attach(m_engine);
    m_audioPlayer->setVolume(gain());
    m_audioPlayer->setMeteringEnabled(true);
    if (const std::optional<double> at = std::exchange(m_resumeAt, std::nullopt))
        m_audioPlayer->setCurrentTime(*at);
    if (start == Start::Load) {
        m_audioPlayer->prepareToPlay();
        engineIdle();
        return;
    }
    m_audioPlayer->play();
    restartTimers();
}

void AudioPlayerManager::outputRateChanged()
{
    KIVO_MAIN_THREAD();
    if (m_midiPlayer) {
        if (m_midiPlayer->isPlaying())
            setCurrentTime(currentTime()); // notes are planned in engine frames
        return;
    }
    if (!m_audioPlayer || m_audioPlayer->sampleRate() == m_engine.sampleRate())
        return;
    const bool playing = m_audioPlayer->isPlaying();
    open(m_currentFile.url(), playing ? Start::Play : Start::Load, m_audioPlayer->currentTime());
}

void AudioPlayerManager::engineIdle()
{
    // The engine is shared with the MIDI side, which decides when it may sleep.
    if (m_midiEngine)
        m_midiEngine->scheduleIdleStop();
}

void AudioPlayerManager::stop()
{
    KIVO_MAIN_THREAD();
    m_openingStart = Start::Load;
    if (m_midiPlayer) {
        if (m_midiPlayer->isPlaying()) {
            m_midiPlayer->pause();
            invalidateTimer();
        }
        return;
    }
    if (m_audioPlayer && m_audioPlayer->isPlaying()) {
        m_audioPlayer->stop();
        invalidateTimer();
        engineIdle();
    }
}

void AudioPlayerManager::pausePlayer()
{
    if (m_midiPlayer) {
        m_midiPlayer->pause();
    } else if (m_audioPlayer) {
        m_audioPlayer->pause();
        engineIdle();
    }
    invalidateTimer();
}

void AudioPlayerManager::startPlayback()
{
    if (m_midiPlayer) {
        m_midiMeterQueue.clear();
        m_midiPlayer->play();
    } else if (m_audioPlayer) {
        m_audioPlayer->prepareToPlay();
        m_audioPlayer->play();
    } else {
        return;
    }
    restartTimers();
}

void AudioPlayerManager::togglePlayPause()
{
    KIVO_MAIN_THREAD();
    if (m_opening) {
        // Space while the file opens decides whether it starts once it is open.
        m_openingStart = m_openingStart == Start::Play ? Start::Load : Start::Play;
        return;
    }
    if (!hasPlayer())
        return;
    if (isPlaying())
        pausePlayer();
    else
        startPlayback();
}

void AudioPlayerManager::seek(double fraction)
{
    KIVO_MAIN_THREAD();
    const double d = duration();
    if (!hasPlayer() || d <= 0 || !std::isfinite(fraction))
        return;
    setCurrentTime(d * fraction);
    m_playback.setProgress(currentTime() / d);
}

void AudioPlayerManager::skipForward(double seconds)
{
    KIVO_MAIN_THREAD();
    const double d = duration();
    if (!hasPlayer() || d <= 0)
        return;
    if (!isPlaying() && currentTime() >= d)
        return;
    const double t = currentTime() + seconds;
    if (t >= d) {
        setCurrentTime(d);
        m_playback.setProgress(1.0);
        if (m_midiPlayer) {
            m_midiPlayer->pause();
        } else {
            m_audioPlayer->stop();
            engineIdle();
        }
        invalidateTimer();
        return;
    }
    setCurrentTime(t);
    m_playback.setProgress(currentTime() / d);
}

void AudioPlayerManager::skipBackward(double seconds)
{
    KIVO_MAIN_THREAD();
    const double d = duration();
    if (!hasPlayer() || d <= 0)
        return;
    const double now = currentTime();
    if (now >= d - 0.1 || m_playback.progress() >= 0.99) {
        setCurrentTime(d <= seconds ? 0.0 : d - seconds);
        m_playback.setProgress(currentTime() / d);
        startPlayback();
        return;
    }
    if (now <= 1.1) {
        setCurrentTime(0);
        m_playback.setProgress(0);
    } else {
        setCurrentTime(std::max(now - seconds, 0.0));
        m_playback.setProgress(currentTime() / d);
    }
    if (!isPlaying())
        startPlayback();
}

void AudioPlayerManager::resetPlayer()
{
    KIVO_MAIN_THREAD();
    stop();
    if (m_opening) {
        m_opening->cancel();
        m_opening.reset();
    }
    dropAhead();
    if (m_audioPlayer)
        engineIdle();
    m_audioPlayer.reset();
    m_midiPlayer.reset();
    m_currentFile.setUrl(QUrl());
    m_playback.setProgress(0);
}

void AudioPlayerManager::invalidateTimer()
{
    m_timer.reset();
}

void AudioPlayerManager::restartTimers()
{
    invalidateTimer();
    startMeterTimer();
    QPointer<AudioPlayerManager> self(this);
    m_timer = std::make_unique<RepeatingTimer>(m_clock, kProgressInterval, [self] {
        if (self)
            self->progressTick();
    });
}

void AudioPlayerManager::progressTick()
{
    if (!hasPlayer() || !isPlaying()) {
        // An audio file that played to its end stops by itself between two ticks: it is shown
        // finished, not a tick short of it.
        if (m_audioPlayer && m_audioPlayer->isAtEnd()) {
            m_playback.setProgress(1.0);
            engineIdle();
        }
        invalidateTimer();
        return;
    }
    const double d = duration();
    if (d <= 0) {
        invalidateTimer();
        return;
    }
    const double progress = currentTime() / d;
    m_playback.setProgress(progress);
    if (progress >= 1.0) {
        if (m_midiPlayer)
            m_midiPlayer->pause();
        invalidateTimer();
    }
}

} // namespace kivo::playback

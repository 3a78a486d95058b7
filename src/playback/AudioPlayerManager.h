#pragma once

// The preview player of one browser window. It previews one file at a time: audio files
// through an AudioFilePlayer on the audio engine, MIDI files through the MIDI preview side.
// It owns the observable objects the preview views bind to, the progress and meter timers,
// and takes its settings as plain values and callbacks so the window wires it to the stores.
// Main thread only.

#include "MIDIPreview.h"
#include "PreviewLevels.h"
#include "PreviewValues.h"
#include "ProjectSync.h"
#include "platform/CancelHandle.h"
#include "platform/Clock.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivo::library {
class MissingFileTracker;
}
namespace kivo::platform {
class TaskRunner;
}

namespace kivo::playback {

class AudioEngine;
class AudioFilePlayer;
class RepeatingTimer;

class AudioPlayerManager : public QObject {
    Q_OBJECT
public:
    struct Options {
        AudioEngine* engine = nullptr; // required
        platform::Clock* clock = nullptr; // the system clock when null
        library::MissingFileTracker* tracker = nullptr; // required
        // The application's MIDI engine; without one MIDI files load nothing.
        MIDIPreviewEngine* midiEngine = nullptr;
        // Opens and probes selected files in the background; without one (offline tools and
        // transport tests) they open on the calling thread.
        platform::TaskRunner* tasks = nullptr;
        // Called on the opening thread before a file is touched (tests make a folder slow with it).
        std::function<void(const std::string& path)> willOpen;
        // Asked on the main thread at each open for a lookup of a file's tempo and key that the
        // opening thread then runs; without one files play unstretched.
        using MusicLookup = std::function<SampleMusic(const std::string& path)>;
        std::function<MusicLookup()> musicLookup;
        ProjectSync project;

        // Stored settings at construction time.
        float volume = 0.5f;
        bool autoPauseWhenUnfocused = true;
        bool midiCatchNotes = true;
        int midiOctaveShift = 0;
        int midiInstrument = 0;
        // Writes the setting "volume"; called debounced after knob moves and at termination.
        std::function<void(float)> storeVolume;
    };

    static constexpr double kProgressInterval = 0.02;
    static constexpr double kMeterInterval = 1.0 / 30.0;
    static constexpr double kVolumeWriteDelay = 0.25;
    static constexpr double kInstrumentLoadDelay = 1.0;
    // A row is opened ahead only once the selection has been on its row this long: the file the
    // user asked for starts first, and rows flying past under a held arrow key open nothing.
    static constexpr double kAheadDelay = 0.1;

    explicit AudioPlayerManager(Options options, QObject* parent = nullptr);
    ~AudioPlayerManager() override;

    CurrentFile& currentFile() { return m_currentFile; }
    PlaybackProgress& playback() { return m_playback; }
    StereoLevels& outputLevels() { return m_outputLevels; }
    VolumeControl& volumeControl() { return m_volumeControl; }

    // Selection changed to this file: prepares it without sound. An empty URL does nothing more
    // than stop.
    void load(const QUrl& url);
    // Plays the file from the beginning: the selected file as it was opened when it stands at its
    // start, otherwise opened afresh.
    void play(const QUrl& url);
    // The file the selection is likely to move to next (the next row down the list): it is opened
    // in the background, its start decoded, so that selecting or playing it needs no wait.
    void prepareAhead(const QUrl& url);
    void stop();
    void togglePlayPause();
    void seek(double fraction);
    void skipForward(double seconds);
    void skipBackward(double seconds);
    void resetPlayer();

    bool isPlaying() const;
    bool hasPlayer() const { return m_audioPlayer || m_midiPlayer; }
    // A selected file is still being opened in the background.
    bool isOpening() const { return m_opening.has_value(); }
    bool isMIDI() const { return m_midiPlayer != nullptr; }
    double duration() const;
    double currentTime() const;
    void setCurrentTime(double seconds);
    // g(volumeControl.position).
    float gain() const;

    // Settings the window forwards when they change.
    void setAutoPauseWhenUnfocused(bool on) { m_autoPauseWhenUnfocused = on; }
    void setMidiCatchNotes(bool on);
    void setMidiOctaveShift(int octaves);
    void setMidiInstrument(int index);
    void setStoreVolume(std::function<void(float)> store) { m_storeVolume = std::move(store); }
    // The project tempo and key: the file in the preview follows at once.
    void setProjectSync(const ProjectSync& project);
    const ProjectSync& projectSync() const { return m_project; }
    // What is known of the previewed file's tempo and key.
    const SampleMusic& sampleMusic() const { return m_music; }

    // The engine moved to another rate (another output device): an audio file is opened again
    // for it where it was, playing on if it played; a playing MIDI file is planned again.
    void outputRateChanged();

    // The application became active or resigned being active (another program has focus).
    void applicationActiveChanged(bool active);
    // Writes the volume at once; also runs when the application is about to quit.
    void applicationWillTerminate();

    // Meter side: starts the 30 Hz meter timer unless it runs; the instantaneous levels 0..1;
    // one tapped MIDI output batch (main thread).
    void startMeterTimer();
    bool meterTimerRunning() const { return m_meterTimer != nullptr; }
    bool progressTimerRunning() const { return m_timer != nullptr; }
    std::pair<float, float> currentLevels();
    void enqueueMIDIMeterBatch(const MeterBatch& batch);
    const std::deque<MeterPair>& midiMeterQueue() const { return m_midiMeterQueue; }

    struct Opened; // what opening a file found

signals:
    // The newest selection has been opened (or found unplayable or missing): its length is known.
    void fileOpened();

private:
    enum class Start { Load, Play };
    void open(const QUrl& url, Start start, std::optional<double> resumeAt = std::nullopt);
    platform::CancelHandle startOpening(
        const QUrl& url, int rate, Options::MusicLookup music, std::uint64_t serial);
    void dropAhead();
    void opened(const QUrl& url, Start start, Opened file);
    void openMIDI(const QUrl& url, Start start, const std::vector<uint8_t>* bytes);
    void openAudio(Start start, std::unique_ptr<AudioFilePlayer> player, const std::string& error);
    std::shared_ptr<MIDIPreviewPlayer> makeMIDIPlayer(const QUrl& url, const std::vector<uint8_t>& bytes);
    void engineIdle();
    void pausePlayer();
    void startPlayback(); // resumes whichever player is present, then restarts the timers
    void restartTimers();
    void invalidateTimer();
    void progressTick();
    void meterTick();
    void drainTap();
    void applyGain();
    void scheduleVolumeWrite();
    void writeVolume();
    void applyOctaveShift();
    double midiRate() const;

    std::unique_ptr<AudioFilePlayer> m_audioPlayer;
    // The newest selection still opening: its handle and what to do once it is open.
    std::optional<platform::CancelHandle> m_opening;
    Start m_openingStart = Start::Load;
    std::optional<double> m_resumeAt; // where the file opening goes on from, when not its start
    std::uint64_t m_openSerial = 0; // numbers every opening, so that an answer finds its purpose
    std::uint64_t m_openingSerial = 0;
    // The file opened ahead of the selection, while it opens and once it is open.
    struct Ahead {
        QUrl url;
        std::uint64_t serial = 0;
        std::shared_ptr<platform::Clock::Timer> wait; // until the open starts
        std::optional<platform::CancelHandle> opening;
        std::shared_ptr<Opened> file;
    };
    std::optional<Ahead> m_ahead;
    std::shared_ptr<MIDIPreviewPlayer> m_midiPlayer;
    CurrentFile m_currentFile;
    PlaybackProgress m_playback;
    StereoLevels m_outputLevels;
    VolumeControl m_volumeControl;
    std::unique_ptr<RepeatingTimer> m_timer;
    std::unique_ptr<RepeatingTimer> m_meterTimer;
    std::deque<MeterPair> m_midiMeterQueue;
    MeterPair m_midiMeterDB { kSilenceDB, kSilenceDB };

    AudioEngine& m_engine;
    platform::Clock& m_clock;
    library::MissingFileTracker& m_tracker;
    MIDIPreviewEngine* m_midiEngine;
    platform::TaskRunner* m_tasks;
    std::function<void(const std::string&)> m_willOpen;
    std::function<Options::MusicLookup()> m_musicLookup;
    ProjectSync m_project;
    SampleMusic m_music;
    bool m_autoPauseWhenUnfocused;
    bool m_midiCatchNotes;
    int m_midiOctaveShift;
    int m_midiInstrument;
    std::function<void(float)> m_storeVolume;
    std::shared_ptr<platform::Clock::Timer> m_volumeWrite;
    std::shared_ptr<platform::Clock::Timer> m_instrumentLoad;
};

} // namespace kivo::playback

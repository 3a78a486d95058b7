// kivo-render INPUT OUTPUT.wav [--sound 0-3] [--octave -2..2] [--volume 0..1] [--catch on|off]
//                              [--rate HZ] [--seconds N] [--start S] [--project-bpm N]
//                              [--project-key KEY] [--file-bpm N] [--file-key KEY]
//                              [--stretcher finer|finer-short|faster]
// kivo-render FILE --waveform N | --waveform-png OUT.png --size WxH
//
// Plays INPUT through the preview's audio file player, or a MIDI file through the MIDI
// preview player with the chosen sound and octave shift, on an offline engine at the gain of
// the volume knob's position, and writes what the engine produced as a 16-bit stereo WAV.

#include "WaveformCommand.h"

#include "analysis/AudioAnalysis.h"
#include "index/HeaderMetadata.h"
#include "music/BpmFromName.h"
#include "platform/Clock.h"
#include "playback/AudioEngine.h"
#include "playback/AudioFilePlayer.h"
#include "playback/Audition.h"
#include "playback/MIDISamplePlayer.h"
#include "playback/PreviewLevels.h"
#include "playback/ProjectSync.h"
#include "playback/WavWriter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace kivo::playback;

namespace {

constexpr const char* kUsage
    = "usage: kivo-render INPUT OUTPUT.wav [--sound 0-3] [--octave -2..2] [--volume 0..1]\n"
      "                   [--catch on|off] [--rate HZ] [--seconds N] [--start S]\n"
      "  --sound I    MIDI sound 0 Piano, 1 Felt Piano, 2 Rhodes, 3 Synth Pad (default 0)\n"
      "  --octave O   MIDI octave shift, -2 to 2 (default 0)\n"
      "  --volume P   volume knob position 0 to 1 (default 1)\n"
      "  --catch M    MIDI catch mode: sound notes already held at --start (default on)\n"
      "  --rate HZ    engine sample rate in Hz (default 48000)\n"
      "  --seconds N  length to render (default: to the end of the file)\n"
      "  --start S    position to start from, in seconds (default 0)\n"
      "  --project-bpm N   play a loop at this project tempo (Sync), as the preview does\n"
      "  --project-key KEY shift a tonal sample to this project key or its relative (Key)\n"
      "  --file-bpm N, --file-key KEY  the sample's own tempo and key (default: from its\n"
      "               header, then its name, then heard from its audio)\n"
      "  --stretcher E finer, finer-short or faster (default: the best this machine keeps up with)\n"
      "       kivo-render FILE --waveform N | --waveform-png OUT.png --size WxH [--scale S]\n"
      "  --waveform N  print the preview's N waveform values of FILE, one per line\n"
      "  --waveform-png OUT.png  write the preview's waveform image of WxH points\n";

struct Arguments {
    std::string input;
    std::string output;
    std::optional<double> seconds;
    double start = 0;
    int rate = 48000;
    float volume = 1.0f;
    int instrument = 0;
    int octave = 0;
    bool catchNotes = true;
    ProjectSync project;
    std::optional<double> fileBpm;
    std::optional<kivo::music::MusicalKey> fileKey;
    std::optional<TimeStretcher::Engine> stretcher;
};

bool isMIDIFile(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(
        ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".mid" || ext == ".midi";
}

bool parseNumber(const std::string& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(out);
}

// The message of a usage error, empty when the arguments are fine.
std::string parse(int argc, char** argv, Arguments& args)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            positional.push_back(a);
            continue;
        }
        if (i + 1 >= argc)
            return a + " needs a value";
        if (a == "--project-key" || a == "--file-key") {
            const std::string text = argv[++i];
            auto key = kivo::music::MusicalKey::parse(text);
            if (!key)
                return a + ": not a key: " + text;
            if (a == "--file-key") {
                args.fileKey = key;
            } else {
                args.project.key = key;
                args.project.syncKey = true;
            }
            continue;
        }
        if (a == "--stretcher") {
            const std::string name = argv[++i];
            for (auto engine : { TimeStretcher::Engine::Finer, TimeStretcher::Engine::FinerShort,
                     TimeStretcher::Engine::Faster })
                if (name == TimeStretcher::engineName(engine))
                    args.stretcher = engine;
            if (!args.stretcher)
                return "--stretcher must be finer, finer-short or faster";
            continue;
        }
        if (a == "--catch") {
            const std::string mode = argv[++i];
            if (mode != "on" && mode != "off")
                return "--catch must be on or off";
            args.catchNotes = mode == "on";
            continue;
        }
        double v = 0;
        if (!parseNumber(argv[++i], v))
            return a + ": not a number: " + argv[i];
        if (a == "--seconds") {
            if (v <= 0)
                return "--seconds must be above 0";
            args.seconds = v;
        } else if (a == "--start") {
            if (v < 0)
                return "--start must not be negative";
            args.start = v;
        } else if (a == "--rate") {
            if (v < 8000 || v > 384000 || v != std::floor(v))
                return "--rate must be a whole number of Hz from 8000 to 384000";
            args.rate = int(v);
        } else if (a == "--volume") {
            if (v < 0 || v > 1)
                return "--volume must lie between 0 and 1";
            args.volume = float(v);
        } else if (a == "--sound" || a == "--instrument") {
            if (v < 0 || v > 3 || v != std::floor(v))
                return a + " must be 0, 1, 2 or 3";
            args.instrument = int(v);
        } else if (a == "--project-bpm" || a == "--file-bpm") {
            if (v < ProjectSync::kMinTempo || v > ProjectSync::kMaxTempo)
                return a + " must lie between 20 and 999";
            if (a == "--file-bpm") {
                args.fileBpm = v;
            } else {
                args.project.tempo = v;
                args.project.syncTempo = true;
            }
        } else if (a == "--octave") {
            if (v < -2 || v > 2 || v != std::floor(v))
                return "--octave must be a whole number from -2 to 2";
            args.octave = int(v);
        } else {
            return "unknown option " + a;
        }
    }
    if (positional.size() != 2)
        return "expected INPUT and OUTPUT.wav";
    args.input = positional[0];
    args.output = positional[1];
    return {};
}

// The sample's tempo and key as the browser would know them: the header's, the name's, then the
// ones heard from its audio (which also tells a one-shot, never stretched to a tempo).
SampleMusic sampleMusic(const Arguments& args)
{
    SampleMusic music;
    music.tempo = args.fileBpm;
    music.key = args.fileKey;
    const kivo::index::HeaderMetadata header = kivo::index::readHeaderMetadata(args.input);
    const std::string name = std::filesystem::path(args.input).filename().string();
    if (!music.tempo && header.bpm)
        music.tempo = double(*header.bpm);
    if (!music.tempo)
        if (auto bpm = kivo::music::bpmFromName(name))
            music.tempo = double(*bpm);
    if (!music.key && header.key)
        music.key = kivo::music::MusicalKey::parse(*header.key);
    if (!music.key)
        music.key = kivo::music::MusicalKey::fromName(name, kivo::music::LoneAccidental::accept);
    const bool wantsTempo = args.project.syncTempo && !args.fileBpm;
    const bool wantsKey = args.project.syncKey && !music.key;
    if ((wantsTempo || wantsKey) && !isMIDIFile(args.input)) {
        const kivo::analysis::AnalysisResult heard = kivo::analysis::analyseFile(args.input);
        music.isLoop = heard.isLoop;
        if (!music.tempo)
            music.tempo = heard.bpm;
        if (!music.key)
            music.key = heard.key;
    }
    return music;
}

void describe(const SampleMusic& music, const Arguments& args, StretchAmount amount,
    const AudioEngine& engine, double duration)
{
    if (args.project.syncTempo) {
        if (music.tempo && !isMIDIFile(args.input) && !playsAsLoop(music, duration))
            std::printf("tempo: a one-shot, not stretched\n");
        else if (!music.tempo)
            std::printf("tempo: unknown, not stretched\n");
        else
            std::printf("tempo: %.2f BPM played at %.2f BPM (time ratio %.4f)\n", *music.tempo,
                *music.tempo / amount.timeRatio, amount.timeRatio);
    }
    if (args.project.syncKey && !isMIDIFile(args.input)) {
        if (!music.key)
            std::printf("key: unknown, not shifted\n");
        else
            std::printf("key: %s shifted %+d semitones\n", music.key->keyText().c_str(),
                kivo::playback::keyShift(*music.key, *args.project.key));
    }
    if (amount.active() && !isMIDIFile(args.input))
        std::printf("stretcher: %s\n", TimeStretcher::engineName(engine.stretchers()->engine()));
}

} // namespace

int main(int argc, char** argv)
{
    if (kivo::tools::asksForWaveform(argc, argv))
        return kivo::tools::waveformMain(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    Arguments args;
    if (std::string problem = parse(argc, argv, args); !problem.empty()) {
        std::fprintf(stderr, "kivo-render: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }

    AudioEngine engine;
    engine.useOfflineRendering(args.rate);
    engine.start();
    engine.stretchers()->setEngine(args.stretcher);
    const bool syncing = args.project.syncTempo || args.project.syncKey;
    const SampleMusic music = syncing ? sampleMusic(args) : SampleMusic {};
    // No idle stop can come during an offline render: its clock never moves.
    kivo::platform::ManualClock clock;
    Audition audition(engine, clock);
    std::vector<std::string> logged;
    audition.setLog([&](const std::string& line) { logged.push_back(line); });
    std::string error;
    std::unique_ptr<MIDISamplePlayer> midi;
    std::unique_ptr<AudioFilePlayer> player;
    if (isMIDIFile(args.input)) {
        midi = MIDISamplePlayer::create(audition, args.input, MIDIInstrument::forIndex(args.instrument));
        if (!midi)
            error = logged.empty() ? "it takes no time" : logged.back();
    } else {
        // A one-shot is told from a loop by its length where it was not heard.
        player = AudioFilePlayer::create(engine, args.input, error);
        if (player)
            player->setStretch(stretchFor(args.project, music, player->duration()));
    }
    if (!player && !midi) {
        // The diagnostic line the window's player writes for the same file, then our own.
        if (midi == nullptr && !isMIDIFile(args.input))
            std::fprintf(stdout, "Error playing audio: %s\n", error.c_str());
        else if (!logged.empty())
            std::fprintf(stdout, "%s\n", logged.back().c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "kivo-render: cannot play %s: %s\n", args.input.c_str(), error.c_str());
        return 1;
    }
    // A sound that could not be loaded still plays, with the sampler's own tone.
    for (const std::string& line : logged)
        std::fprintf(stderr, "kivo-render: %s\n", line.c_str());
    audition.setLog([](const std::string& line) { std::fprintf(stderr, "kivo-render: %s\n", line.c_str()); });
    const double duration = midi ? midi->duration() : player->duration();
    if (syncing) {
        // MIDI follows the project tempo by scheduling its notes, loop or not.
        StretchAmount applied = player ? player->stretch() : StretchAmount {};
        if (midi && args.project.syncTempo && music.tempo)
            applied.timeRatio = 1.0 / tempoRate(*music.tempo, *args.project.tempo);
        describe(music, args, applied, engine, duration);
    }
    if (args.start >= duration) {
        std::fprintf(stderr, "kivo-render: --start %.3f is not before the end of %s (%.3f s)\n", args.start,
            args.input.c_str(), duration);
        return 2;
    }
    if (midi) {
        engine.setOutputVolume(volumeGain(args.volume));
        audition.setOctaveShift(args.octave);
        midi->setOctaveShift(args.octave);
        midi->setCatchNotes(args.catchNotes);
        if (args.project.syncTempo && music.tempo)
            midi->setRate(tempoRate(*music.tempo, *args.project.tempo));
        midi->setPausedPosition(args.start);
        midi->play();
    } else {
        player->setVolume(volumeGain(args.volume));
        if (args.start > 0)
            player->setCurrentTime(args.start);
        player->play();
    }
    // The MIDI preview, like the window's, ends at the file's duration.
    auto playing = [&] { return midi ? midi->currentTime() < duration : player->isPlaying(); };

    // Written as it is rendered, so a render of any length holds one block in memory.
    WavWriter wav;
    if (std::string openError = wav.open(args.output, 2, args.rate); !openError.empty()) {
        std::fprintf(stderr, "kivo-render: cannot write %s: %s\n", args.output.c_str(), openError.c_str());
        return 1;
    }
    // Without --seconds the render runs until the player reaches the end of the file, and what the
    // last block carries past the file's last frame is left out.
    const int64_t limit = args.seconds ? int64_t(std::llround(*args.seconds * args.rate)) : INT64_MAX;
    // A stretched file, or a MIDI file played at the project tempo, takes longer or shorter.
    const double playedPerFileSecond = midi ? 1.0 / midi->rate() : player->stretch().timeRatio;
    const int64_t fileFrames = args.seconds
        ? INT64_MAX
        : int64_t(std::llround((duration - args.start) * playedPerFileSecond * args.rate));
    const int64_t keep = fileFrames > 0 ? fileFrames : INT64_MAX;
    constexpr int kBlock = 4096;
    int64_t frames = 0;
    float peak = 0;
    while (frames < limit && (args.seconds || playing())) {
        const int n = int(std::min<int64_t>(kBlock, limit - frames));
        const std::vector<float> block = engine.render(n);
        const int64_t written = std::clamp<int64_t>(keep - frames, 0, n);
        for (int64_t i = 0; i < written * 2; ++i)
            peak = std::max(peak, std::fabs(block[std::size_t(i)]));
        if (std::string writeError = wav.append(block.data(), written); !writeError.empty()) {
            std::fprintf(
                stderr, "kivo-render: cannot write %s: %s\n", args.output.c_str(), writeError.c_str());
            return 1;
        }
        frames += n;
    }
    frames = wav.frames();
    if (std::string writeError = wav.finish(); !writeError.empty()) {
        std::fprintf(stderr, "kivo-render: cannot write %s: %s\n", args.output.c_str(), writeError.c_str());
        return 1;
    }
    if (peak > 0)
        std::printf("%lld frames at %d Hz, peak %.2f dBFS\n", (long long)frames, args.rate,
            20.0 * std::log10(double(peak)));
    else
        std::printf("%lld frames at %d Hz, peak -inf dBFS (silence)\n", (long long)frames, args.rate);
    return 0;
}

#include "LibraryGenerator.h"

#include "SampleFileWriter.h"
#include "SampleNames.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace kivo::bench {

namespace {

enum class Kind { Drum, DrumLoop, MelodicLoop, OneShot, VocalChop, VocalLoop, Fx, Midi, Stem, Demo, Artwork };

struct Folder {
    std::string path; // absolute
    std::set<std::string> childNames;
};

struct Leaf {
    std::size_t folder;
    Kind kind;
    std::string instrument;
    std::optional<int> bpm; // given by the folder's name
    std::optional<MusicalKeyChoice> key;
    const Genre* genre;
    std::string prefix;
    double weight;
    std::size_t files = 0;
};

std::runtime_error ioError(const std::string& what, const std::string& path)
{
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

class Generator {
public:
    Generator(const LibraryOptions& o)
        : m_options(o)
        , m_rng(o.seed)
    {
    }

    LibraryStats run()
    {
        prepareDirectory();
        const std::size_t targetFolders
            = m_options.folders ? m_options.folders : std::max<std::size_t>(1, m_options.files / 10);
        while (m_folders.size() < targetFolders || m_leaves.empty())
            addPack();
        allocateFiles();
        for (std::size_t i = 0; i < m_folders.size(); ++i)
            if (::mkdir(m_folders[i].path.c_str(), 0755) != 0 && errno != EEXIST)
                throw ioError("cannot create folder", m_folders[i].path);
        m_stats.folders = std::size_t(std::count_if(m_folders.begin(), m_folders.end(),
            [](const Folder& f) { return f.path.find("/__MACOSX") == std::string::npos; }));
        for (const auto& [folder, name, bytes] : m_clutter)
            writeFile(folder, name, bytes, false);
        for (auto& leaf : m_leaves)
            writeLeaf(leaf);
        return m_stats;
    }

private:
    void prepareDirectory()
    {
        if (::mkdir(m_options.directory.c_str(), 0755) == 0)
            return;
        if (errno != EEXIST)
            throw ioError("cannot create", m_options.directory);
        DIR* d = ::opendir(m_options.directory.c_str());
        if (!d)
            throw ioError("cannot open", m_options.directory);
        bool empty = true;
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                empty = false;
        ::closedir(d);
        if (!empty)
            throw std::runtime_error(
                m_options.directory + " is not empty; a library is only written into an empty folder");
    }

    std::size_t addFolder(std::optional<std::size_t> parent, std::string name)
    {
        const std::string& base = parent ? m_folders[*parent].path : m_options.directory;
        if (parent) {
            auto& siblings = m_folders[*parent].childNames;
            const std::string original = name;
            for (int n = 2; siblings.count(name); ++n)
                name = original + " " + std::to_string(n);
            siblings.insert(name);
        } else {
            const std::string original = name;
            for (int n = 2; m_topNames.count(name); ++n)
                name = original + " " + std::to_string(n);
            m_topNames.insert(name);
        }
        m_folders.push_back({ base + "/" + name, {} });
        return m_folders.size() - 1;
    }

    void addLeaf(std::size_t folder, Kind kind, std::string instrument, std::optional<int> bpm = {},
        std::optional<MusicalKeyChoice> key = {}, double weight = 1.0)
    {
        m_leaves.push_back({ folder, kind, std::move(instrument), bpm, key, m_genre, m_prefix,
            weight * (0.4 + double(m_rng.below(1000)) / 800.0) });
    }

    int genreBpm() { return m_rng.between(m_genre->bpmLow, m_genre->bpmHigh); }

    std::string tempoFolderName(int bpm)
    {
        static const std::vector<std::string> forms
            = { "Loops %", "%", "Loops - %", "% Loops", "Drum Loops %" };
        std::string f = m_rng.pick(forms);
        return f.replace(f.find('%'), 1, bpmText(m_rng, bpm, false));
    }

    std::string keyFolderName(const MusicalKeyChoice& key, std::optional<int> bpm)
    {
        std::string name = m_rng.chance(0.1) ? "Key of " + keyText(m_rng, key) : keyText(m_rng, key);
        if (bpm)
            name += " " + bpmText(m_rng, *bpm, false);
        return name;
    }

    void addPack()
    {
        m_genre = &m_rng.pick(genres());
        const std::string& vendor = m_rng.pick(vendors());
        std::string theme = m_rng.pick(m_genre->themes);
        if (m_rng.chance(0.3))
            theme += " Vol. " + std::to_string(m_rng.between(1, 5));
        m_prefix.clear();
        for (std::size_t i = 0; i < theme.size(); ++i)
            if ((i == 0 || theme[i - 1] == ' ') && std::isalpha(static_cast<unsigned char>(theme[i])))
                m_prefix += char(std::toupper(static_cast<unsigned char>(theme[i])));
        if (m_prefix.size() < 2)
            m_prefix = theme.substr(0, 3);

        std::string packName;
        switch (m_rng.below(4)) {
        case 0:
            packName = vendor + " - " + theme;
            break;
        case 1: {
            packName = vendor + "_" + theme + "_WAV";
            for (auto& c : packName)
                if (c == ' ')
                    c = '_';
            break;
        }
        case 2:
            packName = theme + " (" + vendor + ")";
            break;
        default:
            packName = theme;
        }
        const std::size_t pack = addFolder(std::nullopt, packName);
        m_clutter.push_back({ pack, m_rng.chance(0.5) ? "Readme.txt" : "License Agreement.txt",
            "Thank you for purchasing " + theme + ".\nRoyalty free for use in your productions.\n" });
        if (m_rng.chance(0.3))
            addLeaf(pack, Kind::Demo, theme + " Demo", {}, {}, 0.0);

        std::size_t top = pack;
        if (m_rng.chance(0.45)) {
            static const std::vector<std::string> wrappers = { "Samples", "WAV", "Contents", "Sample Pack" };
            top = addFolder(top, m_rng.chance(0.5) ? packName : m_rng.pick(wrappers));
            if (m_rng.chance(0.2))
                top = addFolder(top, m_rng.chance(0.5) ? "WAV" : theme);
        }
        if (m_rng.chance(0.07)) {
            const std::size_t art = addFolder(pack, "Artwork");
            m_clutter.push_back({ art, "Cover.jpg", std::string("\xff\xd8\xff\xe0\x00\x10JFIF", 10) });
        }
        if (m_rng.chance(0.05)) {
            // Archive leftovers: AppleDouble files with a sample's extension but no audio inside, which
            // the browser neither shows nor indexes.
            const std::size_t mac = addFolder(pack, "__MACOSX");
            m_clutter.push_back({ mac, "._Readme.txt", std::string("\x00\x05\x16\x07", 4) });
            for (int i = 1; i <= 3; ++i)
                m_clutter.push_back({ mac, "._Kick " + std::to_string(i) + ".wav",
                    std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) });
        }

        struct Category {
            void (Generator::*build)(std::size_t);
            double chance;
        };
        static const Category categories[] = { { &Generator::addDrums, 0.85 },
            { &Generator::addDrumLoops, 0.6 }, { &Generator::addMelodicLoops, 0.7 },
            { &Generator::addOneShots, 0.5 }, { &Generator::addVocals, 0.3 }, { &Generator::addFx, 0.4 },
            { &Generator::addMidi, 0.45 }, { &Generator::addStems, 0.2 } };
        bool any = false;
        for (const auto& c : categories)
            if (m_rng.chance(c.chance)) {
                (this->*c.build)(top);
                any = true;
            }
        if (!any)
            addDrums(top);
    }

    void addDrums(std::size_t top)
    {
        static const std::vector<std::string> names
            = { "Drums", "Drum Shots", "Drum One Shots", "01 Drums", "Drum Hits" };
        const std::size_t drums = addFolder(top, m_rng.pick(names));
        struct Part {
            std::vector<std::string> folders;
            std::vector<std::string> instruments;
            bool pitched;
        };
        static const std::vector<Part> parts = {
            { { "Kicks", "Kick", "01 Kicks", "Kick Drums" }, { "Kick", "Kick", "KD", "Bd" }, false },
            { { "Snares", "Snare", "02 Snares" }, { "Snare", "Snr", "SD" }, false },
            { { "Claps", "Clap" }, { "Clap", "Clp" }, false },
            { { "Hats", "Hi Hats", "Hi-Hats", "Closed Hats", "Open Hats" },
                { "Hat", "HH", "Closed Hat", "OpenHat" }, false },
            { { "Percussion", "Percs", "Perc" }, { "Perc", "Shaker", "Conga", "Rim", "Tom" }, false },
            { { "Cymbals", "Crashes", "Rides" }, { "Crash", "Ride", "Cymbal" }, false },
            { { "808s", "808 Bass", "808" }, { "808", "808 Bass", "Sub" }, true },
        };
        for (const auto& part : parts) {
            if (part.pitched && m_genre->name != "Trap" && m_genre->name != "Drill" && !m_rng.chance(0.2))
                continue;
            if (!m_rng.chance(0.8))
                continue;
            const std::size_t f = addFolder(drums, m_rng.pick(part.folders));
            const std::string instrument = m_rng.pick(part.instruments);
            if (m_rng.chance(0.15)) {
                static const std::vector<std::string> sub
                    = { "Acoustic", "Electronic", "Hard", "Soft", "Processed", "Raw" };
                for (int i = 0; i < 2; ++i)
                    addLeaf(
                        addFolder(f, m_rng.pick(sub)), part.pitched ? Kind::OneShot : Kind::Drum, instrument);
            } else {
                addLeaf(f, part.pitched ? Kind::OneShot : Kind::Drum, instrument, {}, {},
                    part.pitched ? 0.6 : 1.0);
            }
        }
    }

    void addDrumLoops(std::size_t top)
    {
        static const std::vector<std::string> names = { "Drum Loops", "Beats", "02 Drum Loops", "Loops" };
        static const std::vector<std::string> instruments
            = { "Drum", "Full Drums", "Top", "Hat", "Perc", "Break", "Groove" };
        const std::size_t loops = addFolder(top, m_rng.pick(names));
        if (m_rng.chance(0.5)) {
            addLeaf(loops, Kind::DrumLoop, m_rng.pick(instruments), {}, {}, 1.5);
            return;
        }
        const int tempos = m_rng.between(1, 3);
        for (int i = 0; i < tempos; ++i) {
            const int bpm = genreBpm();
            addLeaf(addFolder(loops, tempoFolderName(bpm)), Kind::DrumLoop, m_rng.pick(instruments), bpm);
        }
    }

    void addMelodicLoops(std::size_t top)
    {
        static const std::vector<std::string> names
            = { "Melodic Loops", "Music Loops", "Loops", "Synth Loops", "Instrument Loops" };
        static const std::vector<std::string> instruments = { "Keys", "Piano", "Rhodes", "Guitar", "Synth",
            "Pad", "Bass", "Lead", "Pluck", "Arp", "Strings", "Bell", "Flute" };
        const std::size_t loops = addFolder(top, m_rng.pick(names));
        switch (m_rng.below(3)) {
        case 0:
            addLeaf(loops, Kind::MelodicLoop, m_rng.pick(instruments), {}, {}, 2.0);
            break;
        case 1:
            for (int i = m_rng.between(2, 4); i > 0; --i) {
                const MusicalKeyChoice key = randomKey(m_rng);
                std::optional<int> bpm;
                if (m_rng.chance(0.3))
                    bpm = genreBpm();
                addLeaf(addFolder(loops, keyFolderName(key, bpm)), Kind::MelodicLoop, m_rng.pick(instruments),
                    bpm, key);
            }
            break;
        default:
            for (int i = m_rng.between(2, 3); i > 0; --i) {
                const std::string instrument = m_rng.pick(instruments);
                const std::size_t f = addFolder(loops, instrument + (m_rng.chance(0.5) ? " Loops" : ""));
                if (m_rng.chance(0.5)) {
                    addLeaf(f, Kind::MelodicLoop, instrument);
                } else {
                    const MusicalKeyChoice key = randomKey(m_rng);
                    addLeaf(addFolder(f, keyFolderName(key, {})), Kind::MelodicLoop, instrument, {}, key);
                }
            }
        }
    }

    void addOneShots(std::size_t top)
    {
        static const std::vector<std::string> names
            = { "One Shots", "Oneshots", "Synth Shots", "Instrument One Shots" };
        static const std::vector<std::string> instruments
            = { "Bass", "Keys", "Lead", "Pad", "Pluck", "Stab", "Chord" };
        const std::size_t shots = addFolder(top, m_rng.pick(names));
        for (int i = m_rng.between(1, 4); i > 0; --i) {
            const std::string instrument = m_rng.pick(instruments);
            addLeaf(addFolder(shots, instrument + (m_rng.chance(0.6) ? "s" : "")), Kind::OneShot, instrument,
                {}, {}, 0.8);
        }
    }

    void addVocals(std::size_t top)
    {
        static const std::vector<std::string> names = { "Vocals", "Vox", "Vocal Samples" };
        const std::size_t vox = addFolder(top, m_rng.pick(names));
        addLeaf(
            addFolder(vox, "Vocal Chops"), Kind::VocalChop, m_rng.chance(0.5) ? "Vox Chop" : "Vocal Chop");
        const int bpm = genreBpm();
        addLeaf(addFolder(vox, "Vocal Loops " + bpmText(m_rng, bpm, false)), Kind::VocalLoop, "Vocal Phrase",
            bpm);
    }

    void addFx(std::size_t top)
    {
        static const std::vector<std::string> names = { "FX", "SFX", "Effects" };
        static const std::vector<std::string> kinds
            = { "Risers", "Impacts", "Sweeps", "Foley", "Textures", "Downlifters" };
        const std::size_t fx = addFolder(top, m_rng.pick(names));
        if (m_rng.chance(0.4)) {
            addLeaf(fx, Kind::Fx, "FX", {}, {}, 0.7);
            return;
        }
        for (int i = m_rng.between(2, 3); i > 0; --i) {
            std::string kind = m_rng.pick(kinds);
            addLeaf(addFolder(fx, kind), Kind::Fx, kind.substr(0, kind.size() - 1), {}, {}, 0.5);
        }
    }

    void addMidi(std::size_t top)
    {
        static const std::vector<std::string> names = { "MIDI", "MIDI Files", "Midi Loops" };
        static const std::vector<std::string> kinds = { "Chords", "Melodies", "Basslines", "Arps" };
        const std::size_t midi = addFolder(top, m_rng.pick(names));
        if (m_rng.chance(0.5)) {
            addLeaf(midi, Kind::Midi, "MIDI", {}, {}, 0.6);
            return;
        }
        for (int i = m_rng.between(2, 3); i > 0; --i) {
            std::string kind = m_rng.pick(kinds);
            addLeaf(addFolder(midi, kind), Kind::Midi,
                kind == "Melodies" ? "Melody" : kind.substr(0, kind.size() - 1), {}, {}, 0.4);
        }
    }

    void addStems(std::size_t top)
    {
        static const std::vector<std::string> names = { "Stems", "Song Starters", "Construction Kits" };
        const std::size_t stems = addFolder(top, m_rng.pick(names));
        const int kits = m_rng.between(1, 3);
        for (int i = 1; i <= kits; ++i) {
            const int bpm = genreBpm();
            const MusicalKeyChoice key = randomKey(m_rng);
            const std::string name = "Song Kit " + numberText(m_rng, i) + " - " + bpmText(m_rng, bpm, false)
                + " - " + keyText(m_rng, key);
            addLeaf(addFolder(stems, name), Kind::Stem, "Kit " + std::to_string(i), bpm, key, 0.5);
        }
    }

    void allocateFiles()
    {
        std::size_t remaining = m_options.files;
        double total = 0;
        for (auto& leaf : m_leaves) {
            if (leaf.kind == Kind::Demo && remaining) {
                leaf.files = 1;
                --remaining;
            }
            total += leaf.weight;
        }
        const std::size_t share = remaining;
        for (auto& leaf : m_leaves) {
            const auto n = std::min(remaining, std::size_t(double(share) * leaf.weight / total));
            leaf.files += n;
            remaining -= n;
        }
        while (remaining) {
            Leaf& leaf = m_leaves[m_rng.below(m_leaves.size())];
            if (leaf.kind == Kind::Demo)
                continue;
            ++leaf.files;
            --remaining;
        }
    }

    void writeFile(std::size_t folder, std::string name, const std::string& bytes, bool compatible)
    {
        auto& names = m_folders[folder].childNames;
        if (names.count(name)) {
            const auto dot = name.rfind('.');
            for (int n = 2;; ++n) {
                std::string candidate = name.substr(0, dot) + " " + std::to_string(n) + name.substr(dot);
                if (!names.count(candidate)) {
                    name = candidate;
                    break;
                }
            }
        }
        names.insert(name);
        const std::string path = m_folders[folder].path + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            throw ioError("cannot create", path);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                ::close(fd);
                throw ioError("cannot write", path);
            }
            done += std::size_t(n);
        }
        if (::close(fd) != 0)
            throw ioError("cannot write", path);
        m_stats.bytes += bytes.size();
        ++(compatible ? m_stats.compatibleFiles : m_stats.ignoredFiles);
    }

    AudioShape randomShape(bool longer)
    {
        AudioShape s;
        s.sampleRate = m_rng.chance(0.7) ? 44100 : 48000;
        s.channels = m_rng.chance(0.6) ? 2 : 1;
        s.frames = (longer ? m_rng.between(600, 2000) : m_rng.between(150, 1200)) / s.channels;
        return s;
    }

    static int rootNote(const std::optional<MusicalKeyChoice>& key)
    {
        return 48 + (key ? key->pitchClass : 0);
    }

    std::string tagBpm(int bpm)
    {
        switch (m_rng.below(8)) {
        case 0:
            return std::to_string(bpm) + ".0";
        case 1:
            return " " + std::to_string(bpm) + " ";
        case 2:
            return m_rng.chance(0.5) ? "fast" : "";
        default:
            return std::to_string(bpm);
        }
    }

    std::string tagKey(const MusicalKeyChoice& key)
    {
        switch (m_rng.below(6)) {
        case 0:
            return "  " + plainKeyText(key) + " ";
        case 1:
            return keyText(m_rng, key);
        default:
            return plainKeyText(key);
        }
    }

    std::string wavFor(bool loop, std::optional<int> bpm, const std::optional<MusicalKeyChoice>& key)
    {
        WavLayout layout;
        layout.shape = randomShape(loop);
        if (loop ? m_rng.chance(0.5) : m_rng.chance(0.05)) {
            AcidInfo acid;
            acid.oneShot = !loop;
            acid.bpm
                = bpm ? float(*bpm) + (m_rng.chance(0.2) ? 0.4f : 0.0f) : (loop ? float(genreBpm()) : 0.0f);
            acid.rootValid = key.has_value() && m_rng.chance(0.8);
            acid.rootNote = rootNote(key);
            layout.acid = acid;
            layout.acidBeforeFormat = m_rng.chance(0.1);
        }
        static const std::vector<std::string> ids = { "JUNK", "junk", "PAD ", "FLLR", "bext" };
        if (m_rng.chance(0.1))
            layout.beforeFormat.push_back({ m_rng.pick(ids), std::uint32_t(m_rng.between(1, 120)) });
        if (m_rng.chance(0.3))
            layout.beforeData.push_back({ "LIST", std::uint32_t(m_rng.between(13, 90)) });
        if (m_rng.chance(0.1))
            layout.afterData.push_back({ m_rng.pick(ids), std::uint32_t(m_rng.between(1, 64)) });
        return wavBytes(layout);
    }

    void writeLeaf(const Leaf& leaf)
    {
        m_genre = leaf.genre;
        for (std::size_t i = 1; i <= leaf.files; ++i) {
            NameContext c;
            c.prefix = leaf.prefix;
            c.instrument = leaf.instrument;
            c.number = int(i);
            const bool loop = leaf.kind == Kind::DrumLoop || leaf.kind == Kind::MelodicLoop
                || leaf.kind == Kind::VocalLoop || leaf.kind == Kind::Stem || leaf.kind == Kind::Midi
                || leaf.kind == Kind::Demo;
            const bool pitched = leaf.kind == Kind::MelodicLoop || leaf.kind == Kind::OneShot
                || leaf.kind == Kind::VocalLoop || leaf.kind == Kind::VocalChop || leaf.kind == Kind::Midi
                || leaf.kind == Kind::Stem;
            // The true values; names leave out what the folder already says half of the time.
            std::optional<int> bpm = leaf.bpm;
            if (loop && !bpm)
                bpm = genreBpm();
            std::optional<MusicalKeyChoice> key = leaf.key;
            if (pitched && !key && (leaf.kind != Kind::Midi || m_rng.chance(0.7)))
                key = randomKey(m_rng);
            if (leaf.kind == Kind::Fx && m_rng.chance(0.3))
                bpm = genreBpm();
            c.bpm = leaf.bpm && m_rng.chance(0.5) ? std::nullopt : bpm;
            c.key = leaf.key && m_rng.chance(0.5) ? std::nullopt : key;
            if (leaf.kind == Kind::Stem) {
                static const std::vector<std::string> stems
                    = { "Bass", "Drums", "Lead", "Pad", "Vox", "FX", "Keys", "Perc" };
                c.instrument = stems[(i - 1) % stems.size()];
                c.bpm.reset();
                c.key.reset();
            }

            std::string name;
            if (leaf.kind == Kind::Demo)
                name = leaf.instrument;
            else if (leaf.kind == Kind::Stem)
                name = c.instrument + " - " + leaf.instrument + (i > 8 ? " " + std::to_string(i) : "");
            else if (loop)
                name = loopName(m_rng, c);
            else
                name = oneShotName(m_rng, c);

            TagValues tags;
            tags.title = name;
            if (bpm && m_rng.chance(0.7))
                tags.bpm = tagBpm(*bpm);
            if (key && m_rng.chance(0.7))
                tags.key = tagKey(*key);

            if (leaf.kind == Kind::Midi) {
                MidiLayout midi;
                if (!m_rng.chance(0.1))
                    midi.bpm = bpm ? double(*bpm) : 120.0;
                if (m_rng.chance(0.1))
                    midi.laterBpm = double(genreBpm());
                midi.bars = m_rng.between(1, 4);
                midi.rootNote = rootNote(key) + 12;
                midi.formatOne = m_rng.chance(0.3);
                writeFile(leaf.folder, name + (m_rng.chance(0.1) ? ".midi" : ".mid"), midiBytes(midi), true);
                ++m_stats.midi;
                continue;
            }
            if (leaf.kind == Kind::Demo) {
                writeFile(leaf.folder, name + ".mp3", mp3Bytes(m_rng.between(4, 12), tags), true);
                ++m_stats.mp3;
                continue;
            }
            if (m_options.taggedPercent > 0 && m_rng.below(100) < m_options.taggedPercent) {
                switch (m_rng.below(4)) {
                case 0:
                    writeFile(leaf.folder, name + ".mp3", mp3Bytes(m_rng.between(2, 8), tags), true);
                    ++m_stats.mp3;
                    break;
                case 1:
                    writeFile(leaf.folder, name + ".flac", flacBytes(randomShape(loop), tags), true);
                    ++m_stats.flac;
                    break;
                case 2:
                    writeFile(leaf.folder, name + ".m4a", m4aBytes(tags), true);
                    ++m_stats.m4a;
                    break;
                default:
                    writeFile(leaf.folder, name + ".aiff", aiffBytes(randomShape(loop), tags), true);
                    ++m_stats.aiff;
                }
                continue;
            }
            const std::size_t format = m_options.taggedPercent > 0 ? 100 : m_rng.below(100);
            if (format < 3) {
                writeFile(leaf.folder, name + ".mp3", mp3Bytes(m_rng.between(2, 8), tags), true);
                ++m_stats.mp3;
            } else if (format < 6) {
                writeFile(leaf.folder, name + ".flac", flacBytes(randomShape(loop), tags), true);
                ++m_stats.flac;
            } else if (format < 9) {
                writeFile(leaf.folder, name + (m_rng.chance(0.2) ? ".AIFF" : ".aiff"),
                    aiffBytes(randomShape(loop), tags), true);
                ++m_stats.aiff;
            } else {
                const std::string wav = wavFor(loop, bpm, key);
                const std::string file = name + (m_rng.chance(0.02) ? ".WAV" : ".wav");
                writeFile(leaf.folder, file, wav, true);
                ++m_stats.wav;
                if (m_rng.chance(0.05))
                    writeFile(leaf.folder, file + ".asd", std::string("\x00\x00\x00\x00BPMHint", 11), false);
            }
            if (!loop && m_rng.chance(0.01))
                writeFile(leaf.folder, name + " copy.aif", aiffBytes(randomShape(false), {}), false);
        }
    }

    LibraryOptions m_options;
    Rng m_rng;
    std::vector<Folder> m_folders;
    std::set<std::string> m_topNames;
    std::vector<Leaf> m_leaves;
    std::vector<std::tuple<std::size_t, std::string, std::string>> m_clutter;
    const Genre* m_genre = nullptr;
    std::string m_prefix;
    LibraryStats m_stats;
};

} // namespace

LibraryStats makeLibrary(const LibraryOptions& options)
{
    Generator generator(options);
    return generator.run();
}

} // namespace kivo::bench

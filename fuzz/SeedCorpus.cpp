// kivo-fuzz-seeds OUTDIR: the seed corpora of the fuzz targets, written by our own writers (the
// synthetic library's sample writers, the MIDI writer, the index's cache encoder, the managers
// saving through a preference store, the backup encoder). One folder per target.

#include "FuzzSupport.h"

#include "LibraryGenerator.h"
#include "SampleFileWriter.h"
#include "index/CacheFile.h"
#include "index/CacheIndexStore.h"
#include "index/IndexRecords.h"
#include "index/IndexStoreScan.h"
#include "index/MetadataOverrideStore.h"
#include "library/UserSettings.h"
#include "library/WorkspaceBackup.h"
#include "music/MIDIFileWriter.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"
#include "platform/PreferenceStore.h"
#include "support/MIDIFixtures.h"

#include <QFile>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace kivo;

namespace {

std::string g_out;

void seed(const std::string& target, const std::string& name, const std::string& bytes)
{
    std::filesystem::create_directories(g_out + "/" + target);
    std::ofstream(g_out + "/" + target + "/" + name, std::ios::binary) << bytes;
}

std::string str(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

void midiSeeds()
{
    seed("midi", "two-bars.mid", bench::midiBytes({ 120.0, std::nullopt, 2, 60, false }));
    seed("midi", "tempo-change.mid", bench::midiBytes({ 93.5, 140.0, 3, 48, true }));
    seed("midi", "no-tempo.mid", bench::midiBytes({ std::nullopt, std::nullopt, 1, 72, false }));

    music::MIDIFileWriter running(0, 96);
    running.setRunningStatus(music::MIDIFileWriter::RunningStatus::on);
    running.setNoteOffStyle(music::MIDIFileWriter::NoteOffStyle::zeroVelocityOn);
    running.addTempoBPM(0, 0, 87);
    running.addProgramChange(0, 0, 5, 3);
    running.addControlChange(0, 10, 7, 100, 3);
    running.addSysEx(0, 20, { 0x7e, 0x7f, 0x09, 0x01, 0xf7 });
    for (int i = 0; i < 8; ++i)
        running.addNote(0, i * 48, 40, 60 + i, 100, i % 2 ? 9 : 3);
    seed("midi", "running-status.mid", str(running.bytes()));

    music::MIDIFileWriter smpte(1, 0xe728); // 25 frames of 40 ticks
    smpte.addTrackName(smpte.addTrack(), "lead");
    smpte.addTempo(0, 0, 400000);
    smpte.addNote(1, 0, 1000, 64, 90);
    smpte.addRaw(1, 500, { 0xe0, 0x00, 0x50 });
    smpte.setTrackEnd(1, 2000);
    seed("midi", "smpte.mid", str(smpte.bytes()));

    // A longer header and a chunk of an unknown type before the tracks, as some tools write.
    music::MIDIFileWriter extra(1, 240);
    extra.addTempoBPM(0, 0, 140);
    for (int i = 0; i < 24; ++i)
        extra.addNote(1, i * 120, 100, 48 + (i * 7) % 24, 100);
    std::string song = str(extra.bytes());
    std::string longer = song.substr(0, 7) + char(10) + song.substr(8, 6) + std::string(4, '\0')
        + std::string("XFIH\0\0\0\3\1\2\3", 11) + song.substr(14);
    longer[11] = char(longer[11] + 1); // the unknown chunk counts as a track
    seed("midi", "extra-chunks.mid", longer);

    seed("midi", "tempos-across-tracks.mid", str(test::temposAcrossTracksMIDI()));
}

void wavSeeds()
{
    bench::WavLayout plain;
    plain.shape = { 44100, 1, 64 };
    seed("wav", "plain.wav", bench::wavBytes(plain));

    bench::WavLayout acid = plain;
    acid.shape.channels = 2;
    acid.acid = bench::AcidInfo { 128.0f, 62, true, false };
    acid.beforeFormat = { { "JUNK", 27 } };
    acid.beforeData = { { "LIST", 13 }, { "bext", 5 } };
    acid.afterData = { { "id3 ", 9 } };
    seed("wav", "acid-and-chunks.wav", bench::wavBytes(acid));

    bench::WavLayout early = plain;
    early.acid = bench::AcidInfo { 90.0f, 0, false, true };
    early.acidBeforeFormat = true;
    seed("wav", "acid-first.wav", bench::wavBytes(early));
}

// The tagged target reads the first byte as the choice of extension: 0 mp3, 1 m4a, 2 aac, 3 aiff, 4 flac.
void taggedSeed(char extension, const std::string& name, const std::string& bytes)
{
    seed("tagged", name, std::string(1, extension) + bytes);
}

std::string adtsBytes(int frames)
{
    std::string out;
    constexpr int kFrameBytes = 24;
    for (int i = 0; i < frames; ++i) {
        // Sync word, MPEG-4, no CRC; AAC LC at 44.1 kHz, stereo; frame length; buffer fullness.
        const unsigned char header[7]
            = { 0xff, 0xf1, 0x50, 0x80, (kFrameBytes >> 3) & 0xff, ((kFrameBytes & 7) << 5) | 0x1f, 0xfc };
        out.append(reinterpret_cast<const char*>(header), 7);
        out.append(kFrameBytes - 7, '\0');
    }
    return out;
}

void taggedSeeds()
{
    const bench::TagValues tags { "124", " F#m ", "loop" };
    const bench::TagValues odd { "fast", "", "" };
    const bench::AudioShape shape { 22050, 1, 32 };
    taggedSeed(0, "tags.mp3", bench::mp3Bytes(4, tags));
    taggedSeed(0, "odd.mp3", bench::mp3Bytes(2, odd));
    taggedSeed(1, "tags.m4a", bench::m4aBytes(tags));
    taggedSeed(2, "frames.aac", adtsBytes(6));
    taggedSeed(3, "tags.aiff", bench::aiffBytes(shape, tags));
    taggedSeed(4, "tags.flac", bench::flacBytes(shape, tags));
}

void cacheSeeds(const std::string& scratch)
{
    const std::string library = scratch + "/library";
    bench::LibraryOptions options;
    options.directory = library;
    options.files = 24;
    options.taggedPercent = 30;
    options.seed = 7;
    bench::makeLibrary(options);

    index::CacheIndexStoreOptions storeOptions;
    storeOptions.cacheFilePath = scratch + "/SearchIndex.json";
    index::CacheIndexStore store(storeOptions);
    seed("cache", "empty.json", index::encodeCacheData(store.current()->index, 0));
    const std::vector<index::ScanGroup> groups {
        { "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9", { library }, { "/gone/Drums" } },
    };
    index::buildIndex(store, groups, {}, {});
    std::string text = index::encodeCacheData(store.current()->index, 786000000.5);
    // The scratch folder's name changes with every run; the corpus should not.
    for (std::size_t at; (at = text.find(scratch)) != std::string::npos;)
        text.replace(at, scratch.size(), "/home/producer/Samples");
    seed("cache", "library.json", text);
}

// A minimal XML property list writer for the store's value types: the XML form a backup takes once
// another tool converted it.
void xmlValue(std::string& out, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        out += value.toBool() ? "<true/>" : "<false/>";
        break;
    case QMetaType::LongLong:
        out += "<integer>" + std::to_string(value.toLongLong()) + "</integer>";
        break;
    case QMetaType::Double:
        out += "<real>" + std::to_string(value.toDouble()) + "</real>";
        break;
    case QMetaType::QByteArray:
        out += "<data>" + value.toByteArray().toBase64().toStdString() + "</data>";
        break;
    case QMetaType::QVariantList:
        out += "<array>";
        for (const QVariant& item : value.toList())
            xmlValue(out, item);
        out += "</array>";
        break;
    case QMetaType::QVariantMap: {
        out += "<dict>";
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            out += "<key>" + it.key().toHtmlEscaped().toStdString() + "</key>";
            xmlValue(out, it.value());
        }
        out += "</dict>";
        break;
    }
    default:
        out += "<string>" + value.toString().toHtmlEscaped().toStdString() + "</string>";
    }
}

void preferenceAndBackupSeeds(const std::string& scratch)
{
    const QString path = QFile::decodeName((scratch + "/Preferences.plist").c_str());
    {
        platform::PreferenceStore store(path);
        {
            library::UserSettings settings(store);
            settings.addGroup(QStringLiteral("Drums"), QStringLiteral("#E5484D"));
            settings.addPath(QFile::decodeName((scratch + "/library").c_str()), 0);
            settings.addPath(QStringLiteral("/home/producer/Loops"), 1);
            settings.setSelectedGroup(1);
            settings.setVolume(0.6f);
            organise::TagStore tags(store);
            const auto dark = tags.createTag("Dark");
            tags.createTag("Vocal");
            if (dark)
                tags.setTag(*dark, organise::TagChoice::on, { "/home/producer/Loops/a.wav" });
            organise::HiddenFileManager hidden(store);
            hidden.setHidden({ "/home/producer/Loops/old" }, true);
            index::MetadataOverrideStore overrides(store);
            overrides.setBPM(126, { "/home/producer/Loops/b.wav" });
            overrides.setKey(std::string("Am"), { "/home/producer/Loops/b.wav" });
            overrides.clearBPM({ "/home/producer/Loops/c.wav" });
        }
        store.flush();
        const auto backup = library::snapshot(store, [](const QString&) { return true; });
        if (backup)
            seed("backup", "workspace.kivo", backup->toStdString());
        QVariantMap values = library::backupValues(store);
        values.insert(
            QString::fromLatin1(library::kBackupFormatKey), QString::fromLatin1(library::kBackupFormat));
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
        xmlValue(xml, values);
        xml += "</plist>\n";
        seed("backup", "workspace-xml.kivo", xml);
    }
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        seed("preferences", "Preferences.plist", file.readAll().toStdString());
    platform::PreferenceStore empty(path + QStringLiteral(".empty"));
    empty.setValue(QStringLiteral("volume"), 1.0);
    empty.flush();
    QFile small(path + QStringLiteral(".empty"));
    if (small.open(QIODevice::ReadOnly))
        seed("preferences", "one-value.plist", small.readAll().toStdString());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kivo-fuzz-seeds OUTDIR\n");
        return 2;
    }
    g_out = argv[1];
    fuzz::initialize();
    const std::string scratch = fuzz::scratchFolder();
    midiSeeds();
    wavSeeds();
    taggedSeeds();
    cacheSeeds(scratch);
    preferenceAndBackupSeeds(scratch);
    return 0;
}

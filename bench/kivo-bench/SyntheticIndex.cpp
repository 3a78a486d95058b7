#include "SyntheticIndex.h"

#include "SampleNames.h"

#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kivo::bench {

namespace {

const std::vector<std::string> kInstruments
    = { "Kick", "Snare", "Clap", "Hat", "Open Hat", "Perc", "Tom", "Ride", "Crash", "Shaker", "Bass", "Sub",
          "808", "Lead", "Pad", "Pluck", "Keys", "Piano", "Guitar", "Vocal", "Chop", "FX", "Riser", "Impact",
          "Drum", "Top", "Fill", "Synth", "Arp", "Chord", "Strings", "Brass", "Flute", "Bell" };
const std::vector<std::string> kKinds
    = { "Drums", "Loops", "One Shots", "Kicks", "Snares", "Hats", "Bass", "Melodic", "Vocals", "FX", "MIDI" };

std::string uuidText(Rng& rng)
{
    index::Uuid id;
    for (auto& byte : id.bytes)
        byte = static_cast<std::uint8_t>(rng.next());
    return id.text();
}

} // namespace

index::IndexMaps makeSyntheticIndex(const SyntheticIndexShape& shape)
{
    using namespace index;
    Rng rng(shape.seed);
    IndexMaps maps;
    std::vector<GroupID> groups;
    for (std::size_t g = 0; g < shape.collections; ++g) {
        groups.push_back(uuidText(rng));
        maps.groupRoots[groups.back()] = { "/bench/Library " + std::to_string(g + 1) };
    }
    const std::size_t perFolder = std::max<std::size_t>(1, shape.files / shape.folders);
    std::size_t made = 0;
    for (std::size_t f = 0; f < shape.folders && made < shape.files; ++f) {
        const std::size_t g = f % groups.size();
        const std::string& root = maps.groupRoots[groups[g]].front();
        const Genre& genre = genres()[f / 40 % genres().size()];
        const std::string pack = root + "/" + vendors()[f / 40 % vendors().size()] + " " + genre.name + " "
            + genre.themes[f / 40 % genre.themes.size()] + " " + std::to_string(f / 40);
        const std::string folderPath = pack + "/" + kKinds[f % kKinds.size()] + " " + std::to_string(f % 7);
        DirectoryInfo folder;
        folder.path = folderPath;
        folder.lastModified = 786000000;
        folder.contentModified = 785000000.0 + double(f);
        folder.inode = 1000 + f;
        const std::size_t count
            = f + 1 == shape.folders ? shape.files - made : std::min(perFolder, shape.files - made);
        for (std::size_t i = 0; i < count; ++i) {
            NameContext context;
            context.prefix = genre.name.substr(0, 2);
            context.instrument = rng.pick(kInstruments);
            context.number = int(i + 1);
            const bool loop = rng.chance(0.5);
            if (loop)
                context.bpm = rng.between(genre.bpmLow, genre.bpmHigh);
            if (rng.chance(0.4))
                context.key = randomKey(rng);
            FileInfo file;
            file.name = (loop ? loopName(rng, context) : oneShotName(rng, context))
                + (rng.chance(0.1) ? ".mid" : ".wav");
            file.path = folderPath + "/" + file.name;
            file.id = stableFileID(file.path);
            file.bpm = context.bpm;
            if (context.key)
                file.key = plainKeyText(*context.key);
            file.duration = loop ? 7.5 : 0.8;
            for (auto& token : tokenize(file.name, 1))
                maps.searchIndex[groups[g]][std::move(token)].insert(file.path);
            maps.fileIndex.emplace(file.path, file);
            folder.files.push_back(std::move(file));
            ++made;
        }
        maps.directoryIndex.emplace(folderPath, std::move(folder));
        auto& packRecord = maps.directoryIndex[pack];
        packRecord.path = pack;
        packRecord.subdirectories.push_back(folderPath);
    }
    rebuildKeywordIndex(maps);
    return maps;
}

std::size_t residentBytes()
{
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return std::size_t(resident) * std::size_t(::sysconf(_SC_PAGESIZE));
}

std::size_t heapBytesInUse()
{
    return mallinfo2().uordblks + mallinfo2().hblkhd;
}

std::size_t peakResidentBytes()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return std::size_t(usage.ru_maxrss) * 1024;
}

} // namespace kivo::bench

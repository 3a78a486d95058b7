#include "SoundFont.h"

#include <algorithm>
#include <map>

namespace kivo::tools {

namespace {

constexpr uint32_t kSamplePadding = 46; // zero points the format requires after every sample
constexpr uint16_t kRomSample = 0x8000;

struct Zone {
    std::vector<SfGenerator> gens;
    std::vector<SfModulator> mods;
};

// Zones of one record (preset or instrument) from its bag range.
template <typename Header>
std::vector<Zone> zonesOf(const std::vector<Header>& headers, std::size_t index,
    const std::vector<SfBag>& bags, const std::vector<SfGenerator>& gens,
    const std::vector<SfModulator>& mods)
{
    std::vector<Zone> zones;
    if (index + 1 >= headers.size())
        return zones;
    for (std::size_t b = headers[index].bagIndex; b < headers[index + 1].bagIndex && b + 1 < bags.size();
         ++b) {
        Zone z;
        for (std::size_t g = bags[b].genIndex; g < bags[b + 1].genIndex && g < gens.size(); ++g)
            z.gens.push_back(gens[g]);
        for (std::size_t m = bags[b].modIndex; m < bags[b + 1].modIndex && m < mods.size(); ++m)
            z.mods.push_back(mods[m]);
        zones.push_back(std::move(z));
    }
    return zones;
}

const SfGenerator* findGen(const Zone& z, uint16_t oper)
{
    for (const auto& g : z.gens)
        if (g.oper == oper)
            return &g;
    return nullptr;
}

// Adds (or creates) a signed generator in a zone, keeping the instrument or sample
// generator last as the format requires.
void addToGen(Zone& z, uint16_t oper, int16_t base, int16_t delta)
{
    for (auto& g : z.gens)
        if (g.oper == oper) {
            g.amount = uint16_t(int16_t(int16_t(g.amount) + delta));
            return;
        }
    auto last = std::find_if(z.gens.begin(), z.gens.end(),
        [](const SfGenerator& g) { return g.oper == sfgen::kInstrument || g.oper == sfgen::kSampleId; });
    z.gens.insert(last, SfGenerator { oper, uint16_t(int16_t(base + delta)) });
}

void appendZones(const std::vector<Zone>& zones, std::vector<SfBag>& bags, std::vector<SfGenerator>& gens,
    std::vector<SfModulator>& mods)
{
    for (const auto& z : zones) {
        bags.push_back({ uint16_t(gens.size()), uint16_t(mods.size()) });
        gens.insert(gens.end(), z.gens.begin(), z.gens.end());
        mods.insert(mods.end(), z.mods.begin(), z.mods.end());
    }
}

} // namespace

std::string extractPreset(
    const SoundFont& src, uint16_t bank, uint16_t program, const PresetChange& change, SoundFont& out)
{
    std::size_t presetIndex = src.presets.size();
    for (std::size_t i = 0; i + 1 < src.presets.size(); ++i)
        if (src.presets[i].bank == bank && src.presets[i].preset == program)
            presetIndex = i;
    if (presetIndex == src.presets.size())
        return "no preset " + std::to_string(program) + " in bank " + std::to_string(bank);

    std::vector<Zone> presetZones
        = zonesOf(src.presets, presetIndex, src.presetBags, src.presetGens, src.presetMods);
    const Zone* global = !presetZones.empty() && !findGen(presetZones.front(), sfgen::kInstrument)
        ? &presetZones.front()
        : nullptr;

    std::map<uint16_t, uint16_t> instrumentMap;
    std::vector<uint16_t> instrumentOrder;
    for (auto& z : presetZones) {
        const SfGenerator* instGen = findGen(z, sfgen::kInstrument);
        if (!instGen)
            continue;
        const uint16_t instrument = instGen->amount; // the zone's generators move below
        if (instrument + 1u >= src.instruments.size())
            return "preset zone names a missing instrument";
        for (const auto& extra : change.extraGenerators) {
            // A local generator replaces the global one, so the change starts from whichever applies.
            const SfGenerator* own = findGen(z, extra.oper);
            const SfGenerator* shared = global ? findGen(*global, extra.oper) : nullptr;
            int16_t base = own ? 0 : shared ? int16_t(shared->amount) : 0;
            addToGen(z, extra.oper, base, int16_t(extra.amount));
        }
        if (!instrumentMap.count(instrument)) {
            instrumentMap[instrument] = uint16_t(instrumentOrder.size());
            instrumentOrder.push_back(instrument);
        }
    }
    if (instrumentOrder.empty())
        return "the preset has no instruments";
    for (auto& z : presetZones)
        for (auto& g : z.gens)
            if (g.oper == sfgen::kInstrument)
                g.amount = instrumentMap[g.amount];

    // Instruments and the samples they use, linked stereo partners included.
    std::vector<std::vector<Zone>> instrumentZones;
    std::map<uint16_t, uint16_t> sampleMap;
    std::vector<uint16_t> sampleOrder;
    auto useSample = [&](uint16_t id) {
        if (!sampleMap.count(id)) {
            sampleMap[id] = uint16_t(sampleOrder.size());
            sampleOrder.push_back(id);
        }
    };
    for (uint16_t oldInst : instrumentOrder) {
        auto zones
            = zonesOf(src.instruments, oldInst, src.instrumentBags, src.instrumentGens, src.instrumentMods);
        for (const auto& z : zones)
            if (const SfGenerator* s = findGen(z, sfgen::kSampleId)) {
                if (s->amount + 1u >= src.sampleHeaders.size())
                    return "instrument zone names a missing sample";
                useSample(s->amount);
            }
        instrumentZones.push_back(std::move(zones));
    }
    for (std::size_t i = 0; i < sampleOrder.size(); ++i) {
        const SfSample& s = src.sampleHeaders[sampleOrder[i]];
        if ((s.sampleType & 0x0E) && s.sampleLink + 1u < src.sampleHeaders.size())
            useSample(s.sampleLink);
    }

    out = SoundFont {};
    // The source's own credits go along: creation date, engineers, product, copyright and its
    // comment (the licence), in the order the format lists them.
    auto sourceInfo = [&src](const char* id) -> std::string {
        for (const auto& [key, text] : src.info)
            if (key == id)
                return text;
        return {};
    };
    for (const char* id : { "ifil", "isng" })
        if (const std::string text = sourceInfo(id); !text.empty())
            out.info.emplace_back(id, text);
    out.info.emplace_back("INAM", change.name);
    for (const char* id : { "ICRD", "IENG", "IPRD", "ICOP" })
        if (const std::string text = sourceInfo(id); !text.empty())
            out.info.emplace_back(id, text);
    auto plain = [&sourceInfo](const char* id) {
        std::string text = sourceInfo(id);
        text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
        return text;
    };
    const std::string sourceName = plain("INAM").empty() ? "the source soundfont" : plain("INAM");
    std::string comment = "Preset \"" + src.presets[presetIndex].name + "\" taken from " + sourceName
        + " (FluidR3_GM.sf2, Debian package fluid-soundfont-gm).";
    if (const std::string licence = plain("ICMT"); !licence.empty())
        comment += " " + licence;
    out.info.emplace_back("ICMT", comment);
    out.info.emplace_back("ISFT", "kivo-soundfonts");

    for (uint16_t oldId : sampleOrder) {
        SfSample s = src.sampleHeaders[oldId];
        if (s.sampleType & kRomSample)
            return "the preset uses ROM samples";
        if (s.end > src.samples.size() || s.start > s.end)
            return "sample " + s.name + " lies outside the sample data";
        uint32_t newStart = uint32_t(out.samples.size());
        out.samples.insert(out.samples.end(), src.samples.begin() + s.start, src.samples.begin() + s.end);
        out.samples.insert(out.samples.end(), kSamplePadding, 0);
        auto move = [&](uint32_t p) { return p - std::min(p, s.start) + newStart; };
        s.startLoop = move(s.startLoop);
        s.endLoop = move(s.endLoop);
        s.end = newStart + (s.end - s.start);
        s.start = newStart;
        s.sampleLink = sampleMap.count(s.sampleLink) ? sampleMap[s.sampleLink] : 0;
        out.sampleHeaders.push_back(s);
    }
    out.sampleHeaders.push_back(SfSample { "EOS", 0, 0, 0, 0, 0, 0, 0, 0, 0 });

    for (std::size_t i = 0; i < instrumentOrder.size(); ++i) {
        for (auto& z : instrumentZones[i])
            for (auto& g : z.gens)
                if (g.oper == sfgen::kSampleId)
                    g.amount = sampleMap[g.amount];
        out.instruments.push_back(
            { src.instruments[instrumentOrder[i]].name, uint16_t(out.instrumentBags.size()) });
        appendZones(instrumentZones[i], out.instrumentBags, out.instrumentGens, out.instrumentMods);
    }
    out.instruments.push_back({ "EOI", uint16_t(out.instrumentBags.size()) });
    out.instrumentBags.push_back(
        { uint16_t(out.instrumentGens.size()), uint16_t(out.instrumentMods.size()) });
    out.instrumentMods.push_back({});
    out.instrumentGens.push_back({});

    SfPresetHeader header = src.presets[presetIndex];
    header.name = change.name;
    header.preset = change.newProgram;
    header.bank = 0;
    header.bagIndex = 0;
    out.presets.push_back(header);
    appendZones(presetZones, out.presetBags, out.presetGens, out.presetMods);
    SfPresetHeader end;
    end.name = "EOP";
    end.bagIndex = uint16_t(out.presetBags.size());
    out.presets.push_back(end);
    out.presetBags.push_back({ uint16_t(out.presetGens.size()), uint16_t(out.presetMods.size()) });
    out.presetMods.push_back({});
    out.presetGens.push_back({});
    return {};
}

} // namespace kivo::tools

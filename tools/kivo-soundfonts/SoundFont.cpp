#include "SoundFont.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kivo::tools {

namespace {

class Reader {
public:
    Reader(const std::string& bytes, std::size_t begin, std::size_t end)
        : m_bytes(bytes)
        , m_pos(begin)
        , m_end(end)
    {
    }
    bool has(std::size_t n) const { return m_pos + n <= m_end; }
    std::size_t pos() const { return m_pos; }
    void skip(std::size_t n) { m_pos = std::min(m_end, m_pos + n); }
    uint8_t u8() { return uint8_t(m_bytes[m_pos++]); }
    uint16_t u16()
    {
        uint16_t v = uint16_t(u8());
        return uint16_t(v | (u8() << 8));
    }
    uint32_t u32()
    {
        uint32_t v = u16();
        return v | (uint32_t(u16()) << 16);
    }
    std::string text(std::size_t n)
    {
        std::string s = m_bytes.substr(m_pos, n);
        m_pos += n;
        s.resize(std::strlen(s.c_str()));
        return s;
    }
    std::string fourcc() { return m_bytes.substr((m_pos += 4) - 4, 4); }

private:
    const std::string& m_bytes;
    std::size_t m_pos, m_end;
};

void put16(std::string& b, uint16_t v)
{
    b.push_back(char(v & 0xFF));
    b.push_back(char(v >> 8));
}
void put32(std::string& b, uint32_t v)
{
    put16(b, uint16_t(v & 0xFFFF));
    put16(b, uint16_t(v >> 16));
}
void putName(std::string& b, const std::string& name)
{
    std::string n = name.substr(0, 19);
    n.resize(20, '\0');
    b += n;
}
std::string chunk(const std::string& id, const std::string& body)
{
    std::string b = id;
    put32(b, uint32_t(body.size()));
    b += body;
    if (body.size() % 2)
        b.push_back('\0');
    return b;
}
std::string list(const std::string& type, const std::string& body)
{
    return chunk("LIST", type + body);
}

template <typename T, typename F>
std::string readTable(Reader r, std::size_t size, std::size_t recordSize, std::vector<T>& out, F parse)
{
    if (size % recordSize != 0 || size / recordSize < 1)
        return "malformed table";
    for (std::size_t i = 0; i < size / recordSize; ++i)
        out.push_back(parse(r));
    return {};
}

std::string readPdta(const std::string& bytes, std::size_t begin, std::size_t end, SoundFont& f)
{
    Reader r(bytes, begin, end);
    auto bag = [](Reader& r) { return SfBag { r.u16(), r.u16() }; };
    auto mod = [](Reader& r) {
        SfModulator m;
        m.source = r.u16();
        m.destination = r.u16();
        m.amount = int16_t(r.u16());
        m.amountSource = r.u16();
        m.transform = r.u16();
        return m;
    };
    auto gen = [](Reader& r) { return SfGenerator { r.u16(), r.u16() }; };
    while (r.has(8)) {
        std::string id = r.fourcc();
        uint32_t size = r.u32();
        if (!r.has(size))
            return "pdta chunk " + id + " runs past the end";
        Reader body(bytes, r.pos(), r.pos() + size);
        std::string err;
        if (id == "phdr")
            err = readTable(body, size, 38, f.presets, [](Reader& r) {
                SfPresetHeader p;
                p.name = r.text(20);
                p.preset = r.u16();
                p.bank = r.u16();
                p.bagIndex = r.u16();
                p.library = r.u32();
                p.genre = r.u32();
                p.morphology = r.u32();
                return p;
            });
        else if (id == "pbag")
            err = readTable(body, size, 4, f.presetBags, bag);
        else if (id == "pmod")
            err = readTable(body, size, 10, f.presetMods, mod);
        else if (id == "pgen")
            err = readTable(body, size, 4, f.presetGens, gen);
        else if (id == "inst")
            err = readTable(body, size, 22, f.instruments, [](Reader& r) {
                SfInstrument i;
                i.name = r.text(20);
                i.bagIndex = r.u16();
                return i;
            });
        else if (id == "ibag")
            err = readTable(body, size, 4, f.instrumentBags, bag);
        else if (id == "imod")
            err = readTable(body, size, 10, f.instrumentMods, mod);
        else if (id == "igen")
            err = readTable(body, size, 4, f.instrumentGens, gen);
        else if (id == "shdr")
            err = readTable(body, size, 46, f.sampleHeaders, [](Reader& r) {
                SfSample s;
                s.name = r.text(20);
                s.start = r.u32();
                s.end = r.u32();
                s.startLoop = r.u32();
                s.endLoop = r.u32();
                s.sampleRate = r.u32();
                s.originalPitch = r.u8();
                s.pitchCorrection = int8_t(r.u8());
                s.sampleLink = r.u16();
                s.sampleType = r.u16();
                return s;
            });
        if (!err.empty())
            return id + ": " + err;
        r.skip(size + (size % 2));
    }
    if (f.presets.empty() || f.presetBags.empty() || f.presetGens.empty() || f.instruments.empty()
        || f.instrumentBags.empty() || f.instrumentGens.empty() || f.sampleHeaders.empty())
        return "preset data tables missing";
    return {};
}

} // namespace

std::string readSoundFont(const std::string& bytes, SoundFont& f)
{
    Reader r(bytes, 0, bytes.size());
    if (!r.has(12) || r.fourcc() != "RIFF")
        return "not a RIFF file";
    uint32_t riffSize = r.u32();
    if (r.fourcc() != "sfbk")
        return "not a soundfont";
    std::size_t end = std::min<std::size_t>(bytes.size(), std::size_t(riffSize) + 8);
    Reader top(bytes, 12, end);
    bool haveSamples = false, havePresets = false;
    while (top.has(12)) {
        std::string id = top.fourcc();
        uint32_t size = top.u32();
        if (!top.has(size))
            return "chunk " + id + " runs past the end";
        std::size_t bodyStart = top.pos();
        if (id == "LIST") {
            std::string type = bytes.substr(bodyStart, 4);
            Reader sub(bytes, bodyStart + 4, bodyStart + size);
            if (type == "INFO" || type == "sdta") {
                while (sub.has(8)) {
                    std::string sid = sub.fourcc();
                    uint32_t ssize = sub.u32();
                    if (!sub.has(ssize))
                        return "chunk " + sid + " runs past the end";
                    if (type == "INFO")
                        f.info.emplace_back(sid, bytes.substr(sub.pos(), ssize));
                    else if (sid == "smpl") {
                        f.samples.resize(ssize / 2);
                        std::memcpy(f.samples.data(), bytes.data() + sub.pos(), f.samples.size() * 2);
                        haveSamples = true;
                    }
                    sub.skip(ssize + (ssize % 2));
                }
            } else if (type == "pdta") {
                std::string err = readPdta(bytes, bodyStart + 4, bodyStart + size, f);
                if (!err.empty())
                    return err;
                havePresets = true;
            }
        }
        top.skip(size + (size % 2));
    }
    if (!haveSamples || !havePresets)
        return "sample data or preset data missing";
    return {};
}

std::string writeSoundFont(const SoundFont& f)
{
    std::string info;
    for (const auto& [id, text] : f.info) {
        std::string body = text;
        if (id != "ifil" && id != "iver" && (body.empty() || body.back() != '\0'))
            body.push_back('\0');
        if (body.size() % 2) // INFO strings count their padding byte
            body.push_back('\0');
        info += chunk(id, body);
    }
    std::string smpl(reinterpret_cast<const char*>(f.samples.data()), f.samples.size() * 2);

    std::string phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr;
    for (const auto& p : f.presets) {
        putName(phdr, p.name);
        put16(phdr, p.preset);
        put16(phdr, p.bank);
        put16(phdr, p.bagIndex);
        put32(phdr, p.library);
        put32(phdr, p.genre);
        put32(phdr, p.morphology);
    }
    auto bags = [](std::string& b, const std::vector<SfBag>& v) {
        for (const auto& x : v) {
            put16(b, x.genIndex);
            put16(b, x.modIndex);
        }
    };
    auto mods = [](std::string& b, const std::vector<SfModulator>& v) {
        for (const auto& m : v) {
            put16(b, m.source);
            put16(b, m.destination);
            put16(b, uint16_t(m.amount));
            put16(b, m.amountSource);
            put16(b, m.transform);
        }
    };
    auto gens = [](std::string& b, const std::vector<SfGenerator>& v) {
        for (const auto& g : v) {
            put16(b, g.oper);
            put16(b, g.amount);
        }
    };
    bags(pbag, f.presetBags);
    mods(pmod, f.presetMods);
    gens(pgen, f.presetGens);
    for (const auto& i : f.instruments) {
        putName(inst, i.name);
        put16(inst, i.bagIndex);
    }
    bags(ibag, f.instrumentBags);
    mods(imod, f.instrumentMods);
    gens(igen, f.instrumentGens);
    for (const auto& s : f.sampleHeaders) {
        putName(shdr, s.name);
        put32(shdr, s.start);
        put32(shdr, s.end);
        put32(shdr, s.startLoop);
        put32(shdr, s.endLoop);
        put32(shdr, s.sampleRate);
        shdr.push_back(char(s.originalPitch));
        shdr.push_back(char(s.pitchCorrection));
        put16(shdr, s.sampleLink);
        put16(shdr, s.sampleType);
    }
    std::string pdta = chunk("phdr", phdr) + chunk("pbag", pbag) + chunk("pmod", pmod) + chunk("pgen", pgen)
        + chunk("inst", inst) + chunk("ibag", ibag) + chunk("imod", imod) + chunk("igen", igen)
        + chunk("shdr", shdr);
    return chunk(
        "RIFF", "sfbk" + list("INFO", info) + list("sdta", chunk("smpl", smpl)) + list("pdta", pdta));
}

} // namespace kivo::tools

#pragma once

// Binary property lists put together object by object, for shapes no encoder would write:
// nesting hundreds of thousands deep, arrays that reference one object over and over, cycles.

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::test {

class BinaryPlistBuilder {
public:
    using Ref = std::uint32_t;

    // Each returns the new object's reference.
    Ref array(const std::vector<Ref>& items) { return container(0xA0, items); }
    // Keys first, then values, as the format lays them out.
    Ref dict(const std::vector<Ref>& keys, const std::vector<Ref>& values)
    {
        std::vector<Ref> refs = keys;
        refs.insert(refs.end(), values.begin(), values.end());
        return container(0xD0, refs, keys.size());
    }
    Ref ascii(const std::string& text)
    {
        std::string object = countMarker(0x50, text.size());
        return add(object + text);
    }
    // UTF-16 code units, big-endian as the format stores them.
    Ref utf16(const std::u16string& text)
    {
        std::string object = countMarker(0x60, text.size());
        for (char16_t unit : text)
            putBig(object, unit, 2);
        return add(object);
    }
    // The reference the next object will get (to make one that refers to itself).
    Ref next() const { return Ref(m_objects.size()); }

    std::string bytes(Ref top) const
    {
        std::string out = "bplist00";
        std::vector<std::uint64_t> offsets;
        for (const std::string& object : m_objects) {
            offsets.push_back(out.size());
            out += object;
        }
        const std::uint64_t tableAt = out.size();
        for (std::uint64_t offset : offsets)
            putBig(out, offset, 4);
        out += std::string(6, '\0');
        out += char(4); // offset size
        out += char(4); // reference size
        putBig(out, m_objects.size(), 8);
        putBig(out, top, 8);
        putBig(out, tableAt, 8);
        return out;
    }

private:
    static void putBig(std::string& out, std::uint64_t value, int size)
    {
        for (int i = size - 1; i >= 0; --i)
            out += char((value >> (8 * i)) & 0xFF);
    }
    static std::string countMarker(unsigned type, std::size_t count)
    {
        std::string out;
        if (count < 15) {
            out += char(type | count);
        } else {
            out += char(type | 0xF);
            out += char(0x12); // a 4-byte integer follows
            putBig(out, count, 4);
        }
        return out;
    }
    static std::string containerBytes(unsigned type, const std::vector<Ref>& refs, std::size_t count)
    {
        std::string out = countMarker(type, count);
        for (Ref r : refs)
            putBig(out, r, 4);
        return out;
    }
    Ref container(unsigned type, const std::vector<Ref>& refs, std::size_t count = SIZE_MAX)
    {
        return add(containerBytes(type, refs, count == SIZE_MAX ? refs.size() : count));
    }
    Ref add(std::string object)
    {
        m_objects.push_back(std::move(object));
        return Ref(m_objects.size() - 1);
    }

    std::vector<std::string> m_objects;
};

// A dictionary { key: a } where a holds `depth` arrays nested one in the next.
inline std::string nestedArraysPlist(const std::string& key, int depth)
{
    BinaryPlistBuilder b;
    auto inner = b.array({});
    for (int i = 1; i < depth; ++i)
        inner = b.array({ inner });
    const auto name = b.ascii(key);
    return b.bytes(b.dict({ name }, { inner }));
}

} // namespace kivo::test

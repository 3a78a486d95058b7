#include "platform/BinaryPlistWriter.h"

#include "platform/BinaryPlistCheck.h"

#include <QMetaType>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kivo::platform {

namespace {

int widthFor(std::uint64_t largest)
{
    int width = 1;
    while (width < 8 && largest >> (8 * width))
        ++width;
    return width;
}

void putBig(std::string& out, std::uint64_t value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

// Objects are laid out depth first; a container's references are known once its children are
// numbered, so every object is kept as its bytes with reference slots filled in at the end.
class Writer {
public:
    bool add(const QVariant& value, int depth, std::uint64_t& index)
    {
        if (depth > kMaxPlistDepth)
            return false;
        index = m_objects.size();
        m_objects.emplace_back();
        const int id = value.typeId();
        if (id == QMetaType::Bool) {
            m_objects[index].bytes.push_back(char(value.toBool() ? 0x09 : 0x08));
        } else if (isPlistInteger(id)) {
            // No signed type in the reader: the 64-bit pattern, in the fewest bytes that hold it.
            const auto bits = static_cast<std::uint64_t>(value.toLongLong());
            integer(m_objects[index].bytes, bits);
        } else if (id == QMetaType::Double || id == QMetaType::Float) {
            std::string& out = m_objects[index].bytes;
            out.push_back(char(0x23));
            putBig(out, std::bit_cast<std::uint64_t>(value.toDouble()), 8);
        } else if (id == QMetaType::QString) {
            string(m_objects[index].bytes, value.toString());
        } else if (id == QMetaType::QByteArray) {
            const QByteArray data = value.toByteArray();
            std::string& out = m_objects[index].bytes;
            marker(out, 0x40, std::uint64_t(data.size()));
            out.append(data.constData(), std::size_t(data.size()));
        } else if (id == QMetaType::QStringList || id == QMetaType::QVariantList) {
            const QVariantList list = value.toList();
            std::vector<std::uint64_t> children(std::size_t(list.size()));
            for (qsizetype i = 0; i < list.size(); ++i)
                if (!add(list[i], depth + 1, children[std::size_t(i)]))
                    return false;
            marker(m_objects[index].bytes, 0xA0, children.size());
            m_objects[index].refs = std::move(children);
        } else if (id == QMetaType::QVariantMap) {
            const QVariantMap map = value.toMap();
            std::vector<std::uint64_t> keys;
            std::vector<std::uint64_t> values;
            keys.reserve(std::size_t(map.size()));
            values.reserve(std::size_t(map.size()));
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                keys.push_back(m_objects.size());
                m_objects.emplace_back();
                string(m_objects.back().bytes, it.key());
                std::uint64_t child = 0;
                if (!add(it.value(), depth + 1, child))
                    return false;
                values.push_back(child);
            }
            marker(m_objects[index].bytes, 0xD0, keys.size());
            keys.insert(keys.end(), values.begin(), values.end());
            m_objects[index].refs = std::move(keys);
        } else {
            return false;
        }
        return true;
    }

    QByteArray finish() const
    {
        const int refSize = widthFor(m_objects.size());
        std::string out = "bplist00";
        std::vector<std::uint64_t> offsets;
        offsets.reserve(m_objects.size());
        for (const Object& object : m_objects) {
            offsets.push_back(out.size());
            out += object.bytes;
            for (std::uint64_t ref : object.refs)
                putBig(out, ref, refSize);
        }
        const std::uint64_t tableAt = out.size();
        const int offsetSize = widthFor(tableAt);
        for (std::uint64_t offset : offsets)
            putBig(out, offset, offsetSize);
        out.append(6, '\0');
        out.push_back(char(offsetSize));
        out.push_back(char(refSize));
        putBig(out, m_objects.size(), 8);
        putBig(out, 0, 8); // the root is the first object
        putBig(out, tableAt, 8);
        return QByteArray(out.data(), qsizetype(out.size()));
    }

private:
    struct Object {
        std::string bytes;
        std::vector<std::uint64_t> refs;
    };

    static void integer(std::string& out, std::uint64_t value)
    {
        const int width = value >> 32 ? 8 : value >> 16 ? 4 : value >> 8 ? 2 : 1;
        out.push_back(char(0x10 | std::countr_zero(unsigned(width))));
        putBig(out, value, width);
    }

    static void marker(std::string& out, unsigned type, std::uint64_t count)
    {
        if (count < 15) {
            out.push_back(char(type | count));
        } else {
            out.push_back(char(type | 0x0F));
            integer(out, count);
        }
    }

    // ASCII when it is, else UTF-16 big-endian.
    static void string(std::string& out, const QString& text)
    {
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() < 0x80;
        marker(out, ascii ? 0x50 : 0x60, std::uint64_t(text.size()));
        for (QChar c : text) {
            if (ascii)
                out.push_back(char(c.unicode()));
            else
                putBig(out, c.unicode(), 2);
        }
    }

    std::vector<Object> m_objects;
};

} // namespace

bool isPlistInteger(int id)
{
    switch (id) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

std::optional<QByteArray> writeBinaryPlist(const QVariant& root)
{
    Writer writer;
    std::uint64_t index = 0;
    if (!writer.add(root, 0, index))
        return std::nullopt;
    return writer.finish();
}

} // namespace kivo::platform

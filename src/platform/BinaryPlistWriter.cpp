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

// Counts the objects a value becomes (a dictionary's keys included); false for what cannot be
// encoded.
bool countObjects(const QVariant& value, int depth, std::uint64_t& count)
{
    if (depth > kMaxPlistDepth)
        return false;
    ++count;
    const int id = value.typeId();
    if (id == QMetaType::QStringList || id == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        for (const QVariant& item : list)
            if (!countObjects(item, depth + 1, count))
                return false;
        return true;
    }
    if (id == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            ++count;
            if (!countObjects(it.value(), depth + 1, count))
                return false;
        }
        return true;
    }
    return id == QMetaType::Bool || isPlistInteger(id) || id == QMetaType::Double || id == QMetaType::Float
        || id == QMetaType::QString || id == QMetaType::QByteArray;
}

// Writes every object into one buffer, children before their container (the offset table lets
// objects lie in any order), so a container's references are known when it is written.
class Writer {
public:
    explicit Writer(std::uint64_t objectCount)
        : m_refSize(widthFor(objectCount))
    {
        m_offsets.reserve(objectCount);
        m_out = "bplist00";
    }

    std::uint64_t add(const QVariant& value)
    {
        const int id = value.typeId();
        if (id == QMetaType::QStringList || id == QMetaType::QVariantList) {
            const QVariantList list = value.toList();
            std::vector<std::uint64_t> children;
            children.reserve(std::size_t(list.size()));
            for (const QVariant& item : list)
                children.push_back(add(item));
            const std::uint64_t index = begin();
            marker(0xA0, children.size());
            for (std::uint64_t child : children)
                putBig(m_out, child, m_refSize);
            return index;
        }
        if (id == QMetaType::QVariantMap) {
            const QVariantMap map = value.toMap();
            std::vector<std::uint64_t> refs(std::size_t(map.size()) * 2);
            std::size_t i = 0;
            for (auto it = map.cbegin(); it != map.cend(); ++it, ++i) {
                refs[i] = begin();
                string(it.key());
                refs[std::size_t(map.size()) + i] = add(it.value());
            }
            const std::uint64_t index = begin();
            marker(0xD0, std::uint64_t(map.size()));
            for (std::uint64_t ref : refs)
                putBig(m_out, ref, m_refSize);
            return index;
        }
        const std::uint64_t index = begin();
        if (id == QMetaType::Bool) {
            m_out.push_back(char(value.toBool() ? 0x09 : 0x08));
        } else if (isPlistInteger(id)) {
            // No signed type in the reader: the 64-bit pattern, in the fewest bytes that hold it.
            integer(static_cast<std::uint64_t>(value.toLongLong()));
        } else if (id == QMetaType::Double || id == QMetaType::Float) {
            m_out.push_back(char(0x23));
            putBig(m_out, std::bit_cast<std::uint64_t>(value.toDouble()), 8);
        } else if (id == QMetaType::QString) {
            string(value.toString());
        } else {
            const QByteArray data = value.toByteArray();
            marker(0x40, std::uint64_t(data.size()));
            m_out.append(data.constData(), std::size_t(data.size()));
        }
        return index;
    }

    QByteArray finish(std::uint64_t root)
    {
        const std::uint64_t tableAt = m_out.size();
        const int offsetSize = widthFor(tableAt);
        for (std::uint64_t offset : m_offsets)
            putBig(m_out, offset, offsetSize);
        m_out.append(6, '\0');
        m_out.push_back(char(offsetSize));
        m_out.push_back(char(m_refSize));
        putBig(m_out, m_offsets.size(), 8);
        putBig(m_out, root, 8);
        putBig(m_out, tableAt, 8);
        return QByteArray(m_out.data(), qsizetype(m_out.size()));
    }

private:
    std::uint64_t begin()
    {
        m_offsets.push_back(m_out.size());
        return m_offsets.size() - 1;
    }

    void integer(std::uint64_t value)
    {
        const int width = value >> 32 ? 8 : value >> 16 ? 4 : value >> 8 ? 2 : 1;
        m_out.push_back(char(0x10 | std::countr_zero(unsigned(width))));
        putBig(m_out, value, width);
    }

    void marker(unsigned type, std::uint64_t count)
    {
        if (count < 15) {
            m_out.push_back(char(type | count));
        } else {
            m_out.push_back(char(type | 0x0F));
            integer(count);
        }
    }

    // ASCII when it is, else UTF-16 big-endian.
    void string(const QString& text)
    {
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() < 0x80;
        marker(ascii ? 0x50 : 0x60, std::uint64_t(text.size()));
        for (QChar c : text) {
            if (ascii)
                m_out.push_back(char(c.unicode()));
            else
                putBig(m_out, c.unicode(), 2);
        }
    }

    int m_refSize;
    std::string m_out;
    std::vector<std::uint64_t> m_offsets;
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
    std::uint64_t count = 0;
    if (!countObjects(root, 0, count))
        return std::nullopt;
    Writer writer(count);
    const std::uint64_t top = writer.add(root);
    return writer.finish(top);
}

} // namespace kivo::platform

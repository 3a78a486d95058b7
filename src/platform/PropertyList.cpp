#include "platform/PropertyList.h"

#include "platform/BinaryPlistCheck.h"
#include "platform/BinaryPlistWriter.h"

#include <QMetaType>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace kivo::platform {

namespace {

struct PlistFree {
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

QString takeString(char* s)
{
    QString out = s ? QString::fromUtf8(s) : QString();
    std::free(s);
    return out;
}

std::optional<QVariant> fromNode(plist_t node, int depth)
{
    if (!node || depth > kMaxPlistDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return QVariant(static_cast<qint64>(u));
    }
    case PLIST_UID: {
        uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return QVariant(static_cast<qint64>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return QVariant(double(sec) + double(usec) / 1e6);
    }
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        return QVariant(takeString(s));
    }
    case PLIST_KEY: {
        char* s = nullptr;
        plist_get_key_val(node, &s);
        return QVariant(takeString(s));
    }
    case PLIST_DATA: {
        char* d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        if (len > uint64_t(std::numeric_limits<int>::max())) {
            std::free(d);
            return std::nullopt;
        }
        QByteArray bytes(d, static_cast<qsizetype>(len));
        std::free(d);
        return QVariant(bytes);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        list.reserve(plist_array_get_size(node));
        // By iterator: fetching item i walks the list from its start each time.
        plist_array_iter iter = nullptr;
        plist_array_new_iter(node, &iter);
        if (!iter)
            return QVariant(list);
        while (true) {
            plist_t child = nullptr;
            plist_array_next_item(node, iter, &child);
            if (!child)
                break;
            auto item = fromNode(child, depth + 1);
            if (!item) {
                std::free(iter);
                return std::nullopt;
            }
            list.append(*item);
        }
        std::free(iter);
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter)
            return QVariant(map);
        while (true) {
            char* key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(node, iter, &key, &val);
            if (!val) {
                std::free(key);
                break;
            }
            auto item = fromNode(val, depth + 1);
            if (!item) {
                std::free(key);
                std::free(iter);
                return std::nullopt;
            }
            map.insert(takeString(key), *item);
        }
        std::free(iter);
        return QVariant(map);
    }
    default:
        return std::nullopt;
    }
}

} // namespace

bool isPlistValue(const QVariant& value)
{
    const int id = value.typeId();
    if (id == QMetaType::Bool || isPlistInteger(id) || id == QMetaType::Double || id == QMetaType::Float
        || id == QMetaType::QString || id == QMetaType::QByteArray || id == QMetaType::QStringList)
        return true;
    if (id == QMetaType::QVariantList) {
        for (const QVariant& item : value.toList())
            if (!isPlistValue(item))
                return false;
        return true;
    }
    if (id == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (!isPlistValue(it.value()))
                return false;
        return true;
    }
    return false;
}

QVariant normalizePlistValue(const QVariant& value)
{
    const int id = value.typeId();
    if (isPlistInteger(id))
        return QVariant(static_cast<qint64>(value.toLongLong()));
    if (id == QMetaType::Float)
        return QVariant(value.toDouble());
    if (id == QMetaType::QStringList || id == QMetaType::QVariantList) {
        QVariantList out;
        for (const QVariant& item : value.toList())
            out.append(normalizePlistValue(item));
        return QVariant(out);
    }
    if (id == QMetaType::QVariantMap) {
        QVariantMap out;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            out.insert(it.key(), normalizePlistValue(it.value()));
        return QVariant(out);
    }
    return value;
}

std::optional<QByteArray> encodeBinaryPlist(const QVariant& root)
{
    return writeBinaryPlist(root);
}

std::optional<QVariant> decodeBinaryPlist(const QByteArray& bytes)
{
    if (bytes.size() < 8 || !plist_is_binary(bytes.constData(), static_cast<uint32_t>(bytes.size())))
        return std::nullopt;
    if (!binaryPlistWithinLimits(bytes.constData(), std::size_t(bytes.size())))
        return std::nullopt;
    plist_t raw = nullptr;
    plist_from_bin(bytes.constData(), static_cast<uint32_t>(bytes.size()), &raw);
    PlistPtr node(raw);
    if (!node)
        return std::nullopt;
    return fromNode(node.get(), 0);
}

} // namespace kivo::platform

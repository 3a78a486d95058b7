#include "index/NaturalOrder.h"

#include <QCollator>
#include <QLocale>
#include <QString>

#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace kivo::index {

namespace {

// The C locale's collator ignores numeric mode, so a C system locale falls back to English.
QLocale collationLocale()
{
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    return locale;
}

QCollator makeCollator()
{
    QCollator collator(collationLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// A collator per thread: searches run on the store's worker while the window sorts on the main thread.
const QCollator& collator()
{
    thread_local const QCollator instance = makeCollator();
    return instance;
}

QString qtText(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The collator above opened with ICU itself, set up exactly as Qt sets up its own, so that picking the
// first few of many names compares their UTF-8 bytes as they are instead of converting each to a
// QString first. None when ICU has no collator for the locale (Qt then compares without one too).
struct IcuCollator {
    UCollator* collator = nullptr;
    IcuCollator()
    {
        UErrorCode status = U_ZERO_ERROR;
        const QByteArray name = collationLocale().bcp47Name().toLatin1().replace('-', '_');
        collator = ucol_open(name.constData(), &status);
        if (U_FAILURE(status)) {
            collator = nullptr;
            return;
        }
        ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        ucol_setAttribute(collator, UCOL_STRENGTH, UCOL_SECONDARY, &status);
        ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
        ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
        if (U_FAILURE(status)) {
            ucol_close(collator);
            collator = nullptr;
        }
    }
    ~IcuCollator()
    {
        if (collator)
            ucol_close(collator);
    }
    IcuCollator(const IcuCollator&) = delete;
    IcuCollator& operator=(const IcuCollator&) = delete;
};

const UCollator* icuCollator()
{
    thread_local const IcuCollator instance;
    return instance.collator;
}

// ICU and Qt replace the bytes of broken UTF-8 differently, so such a name is compared as Qt reads it.
bool isValidUtf8(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF")) // a byte order mark, which a decoder may drop
        return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = std::int32_t(text.size());
    for (std::int32_t at = 0; at < length;) {
        if (bytes[at] < 0x80) {
            ++at;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

} // namespace

int naturalCompare(std::string_view a, std::string_view b)
{
    return collator().compare(qtText(a), qtText(b));
}

namespace {

// Without an ICU collator of its own: Qt's sort keys.
std::vector<std::uint32_t> ranksByQt(const std::vector<std::string_view>& names)
{
    const QCollator& sorter = collator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const auto name : names)
        keys.push_back(sorter.sortKey(qtText(name)));
    std::vector<std::uint32_t> order(names.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
        [&](std::uint32_t a, std::uint32_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<std::uint32_t> ranks(names.size());
    std::uint32_t rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && keys[order[i - 1]].compare(keys[order[i]]) != 0)
            rank = std::uint32_t(i);
        ranks[order[i]] = rank;
    }
    return ranks;
}

} // namespace

std::vector<std::uint32_t> naturalRanks(const std::vector<std::string_view>& names)
{
    const UCollator* icu = icuCollator();
    if (!icu)
        return ranksByQt(names);
    // Every name's collation key laid end to end (each ends in a zero byte, its only one), so that
    // a million names cost no allocation each; keys compare as the texts do.
    std::string keys;
    std::vector<std::size_t> starts;
    starts.reserve(names.size() + 1);
    std::vector<UChar> text;
    for (const auto name : names) {
        starts.push_back(keys.size());
        QString converted;
        const UChar* units = nullptr;
        std::int32_t length = 0;
        if (isValidUtf8(name)) {
            text.resize(name.size() + 1);
            UErrorCode status = U_ZERO_ERROR;
            u_strFromUTF8(text.data(), std::int32_t(text.size()), &length, name.data(),
                std::int32_t(name.size()), &status);
            units = text.data();
        } else {
            converted = qtText(name);
            units = reinterpret_cast<const UChar*>(converted.utf16());
            length = std::int32_t(converted.size());
        }
        const std::size_t at = keys.size();
        keys.resize(at + 16 + 2 * std::size_t(length));
        auto* out = reinterpret_cast<std::uint8_t*>(keys.data() + at);
        auto size = std::size_t(ucol_getSortKey(icu, units, length, out, std::int32_t(keys.size() - at)));
        if (at + size > keys.size()) {
            keys.resize(at + size);
            out = reinterpret_cast<std::uint8_t*>(keys.data() + at);
            size = std::size_t(ucol_getSortKey(icu, units, length, out, std::int32_t(size)));
        }
        keys.resize(at + size);
    }
    starts.push_back(keys.size());
    const auto key = [&](std::uint32_t i) { return keys.data() + starts[i]; };
    // The first eight bytes of each key as a number decide most comparisons without reading the key.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> order(names.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) {
        std::uint64_t prefix = 0;
        const std::size_t length = std::min<std::size_t>(8, starts[i + 1] - starts[i]);
        for (std::size_t b = 0; b < 8; ++b)
            prefix = prefix << 8 | (b < length ? std::uint8_t(key(i)[b]) : 0);
        order[i] = { prefix, i };
    }
    const auto compare = [&](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first < b.first ? -1 : 1;
        return std::strcmp(key(a.second), key(b.second));
    };
    std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
        const int c = compare(a, b);
        return c != 0 ? c < 0 : a.second < b.second;
    });
    std::vector<std::uint32_t> ranks(names.size());
    std::uint32_t rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && compare(order[i - 1], order[i]) != 0)
            rank = std::uint32_t(i);
        ranks[order[i].second] = rank;
    }
    return ranks;
}

struct NaturalNames::Prepared {
    std::vector<std::string_view> names;
    std::vector<bool> valid; // whether ICU may read the name's bytes as they are
    const UCollator* icu = nullptr;
};

NaturalNames::NaturalNames(const std::vector<std::string_view>& names)
    : m_prepared(std::make_unique<Prepared>())
{
    m_prepared->names = names;
    m_prepared->icu = icuCollator();
    m_prepared->valid.reserve(names.size());
    for (const auto name : names)
        m_prepared->valid.push_back(isValidUtf8(name));
}

NaturalNames::~NaturalNames() = default;

int NaturalNames::compare(std::size_t a, std::size_t b) const
{
    const std::string_view first = m_prepared->names[a], second = m_prepared->names[b];
    if (!m_prepared->icu || !m_prepared->valid[a] || !m_prepared->valid[b])
        return naturalCompare(first, second);
    // What QCollator::compare answers for an empty text.
    if (first.empty() || second.empty())
        return first.empty() ? (second.empty() ? 0 : -1) : 1;
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = ucol_strcollUTF8(m_prepared->icu, first.data(),
        std::int32_t(first.size()), second.data(), std::int32_t(second.size()), &status);
    if (U_FAILURE(status))
        return naturalCompare(first, second);
    return int(result);
}

} // namespace kivo::index

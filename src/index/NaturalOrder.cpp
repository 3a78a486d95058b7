#include "index/NaturalOrder.h"

#include <QCollator>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <numeric>

namespace kivo::index {

namespace {

// The C locale's collator ignores numeric mode, so a C system locale falls back to English.
QCollator makeCollator()
{
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    QCollator collator(locale);
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

} // namespace

int naturalCompare(std::string_view a, std::string_view b)
{
    return collator().compare(qtText(a), qtText(b));
}

std::vector<std::uint32_t> naturalRanks(const std::vector<std::string_view>& names)
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

struct NaturalNames::Prepared {
    std::vector<QString> names;
};

NaturalNames::NaturalNames(const std::vector<std::string_view>& names)
    : m_prepared(std::make_unique<Prepared>())
{
    m_prepared->names.reserve(names.size());
    for (const auto name : names)
        m_prepared->names.push_back(qtText(name));
}

NaturalNames::~NaturalNames() = default;

int NaturalNames::compare(std::size_t a, std::size_t b) const
{
    return collator().compare(m_prepared->names[a], m_prepared->names[b]);
}

} // namespace kivo::index

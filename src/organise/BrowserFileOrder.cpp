#include "organise/BrowserFileOrder.h"

#include "index/NaturalOrder.h"

#include <algorithm>
#include <numeric>

namespace kivo::organise {

namespace {

bool isMIDIExtension(std::string_view extension)
{
    const auto is = [&](std::string_view lower) {
        return extension.size() == lower.size()
            && std::equal(extension.begin(), extension.end(), lower.begin(),
                [](char c, char l) { return (c >= 'A' && c <= 'Z' ? char(c + 32) : c) == l; });
    };
    return is("mid") || is("midi");
}

bool isMIDIPath(std::string_view path)
{
    return isMIDIExtension(index::sortExtension(path));
}

// -1, 0 or 1 for an optional value where present comes first and smaller values lead.
template <class T> int comparePresentFirst(const std::optional<T>& a, const std::optional<T>& b)
{
    if (a && b)
        return *a < *b ? -1 : (*b < *a ? 1 : 0);
    if (a != b)
        return a ? -1 : 1;
    return 0;
}

} // namespace

std::optional<int> romanRank(std::string_view name)
{
    const std::string lower = index::lowerCase(name);
    std::string_view rest = lower;
    int accidental = 0;
    if (rest.starts_with('b')) {
        accidental = -1;
        rest.remove_prefix(1);
    } else if (rest.starts_with('#')) {
        accidental = 1;
        rest.remove_prefix(1);
    }
    static constexpr std::pair<std::string_view, int> kNumerals[]
        = { { "vii", 7 }, { "iii", 3 }, { "vi", 6 }, { "iv", 4 }, { "ii", 2 }, { "v", 5 }, { "i", 1 } };
    int value = 0;
    for (const auto& [numeral, numeralValue] : kNumerals) {
        if (rest.starts_with(numeral)) {
            value = numeralValue;
            rest.remove_prefix(numeral.size());
            break;
        }
    }
    if (value == 0)
        return std::nullopt;
    for (bool skipped = true; skipped;) {
        skipped = false;
        for (const std::string_view mark : { "°", "ø", "+" }) {
            if (rest.starts_with(mark)) {
                rest.remove_prefix(mark.size());
                skipped = true;
            }
        }
    }
    if (!rest.empty() && std::string_view(" -_.,()[]").find(rest.front()) == std::string_view::npos)
        return std::nullopt;
    return 2 * value + accidental;
}

bool browserOrderBefore(const SortItem& a, const SortItem& b, const SortingOptions& options)
{
    if (a.isDirectory != b.isDirectory)
        return a.isDirectory;
    if (!a.isDirectory) {
        if (options.separateMIDIFiles) {
            const bool midiA = isMIDIPath(a.path), midiB = isMIDIPath(b.path);
            if (midiA != midiB)
                return midiB;
        }
        if (options.sortRomanNumerals) {
            if (const int order = comparePresentFirst(romanRank(a.name), romanRank(b.name)))
                return order < 0;
        }
        if (options.sortByBPM) {
            if (const int order = comparePresentFirst(a.bpm, b.bpm))
                return order < 0;
        }
    }
    return index::naturalCompare(a.name, b.name) < 0;
}

std::vector<std::uint32_t> browserOrderPermutation(
    const std::vector<SortItem>& items, const SortingOptions& options)
{
    // The same steps as browserOrderBefore, turned into one key per item. Folders carry only the
    // directory flag and the name rank, so two folders compare by name alone.
    struct Key {
        bool file;
        bool midi;
        std::optional<int> roman;
        std::optional<std::int64_t> bpm;
        std::uint32_t nameRank;
    };
    std::vector<std::string_view> names;
    names.reserve(items.size());
    for (const auto& item : items)
        names.push_back(item.name);
    const auto ranks = index::naturalRanks(names);
    std::vector<Key> keys;
    keys.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const SortItem& item = items[i];
        if (item.isDirectory) {
            keys.push_back({ false, false, std::nullopt, std::nullopt, ranks[i] });
            continue;
        }
        keys.push_back({ true, options.separateMIDIFiles && isMIDIPath(item.path),
            options.sortRomanNumerals ? romanRank(item.name) : std::nullopt,
            options.sortByBPM ? item.bpm : std::nullopt, ranks[i] });
    }
    std::vector<std::uint32_t> order(items.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        const Key& a = keys[x];
        const Key& b = keys[y];
        if (a.file != b.file)
            return b.file;
        if (a.midi != b.midi)
            return b.midi;
        if (const int c = comparePresentFirst(a.roman, b.roman))
            return c < 0;
        if (const int c = comparePresentFirst(a.bpm, b.bpm))
            return c < 0;
        return a.nameRank < b.nameRank;
    });
    return order;
}

void sortInBrowserOrder(std::vector<index::FileInfo>& files,
    const std::vector<std::optional<std::int64_t>>& bpms, const SortingOptions& options)
{
    std::vector<SortItem> items;
    items.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        items.push_back({ files[i].name, files[i].path, false, i < bpms.size() ? bpms[i] : files[i].bpm });
    const auto order = browserOrderPermutation(items, options);
    std::vector<index::FileInfo> sorted;
    sorted.reserve(files.size());
    for (const auto i : order)
        sorted.push_back(std::move(files[i]));
    files.swap(sorted);
}

void sortInBrowserOrder(std::vector<index::FileInfo>& files, const SortingOptions& options)
{
    sortInBrowserOrder(files, {}, options);
}

index::NamedFileOrder namedBrowserOrder(const SortingOptions& options)
{
    index::NamedFileOrder order;
    order.name = std::string("browser") + (options.separateMIDIFiles ? " midi-last" : "")
        + (options.sortByBPM ? " bpm" : "") + (options.sortRomanNumerals ? " roman" : "");
    order.order = [options](std::vector<index::FileInfo>& files) { sortInBrowserOrder(files, options); };
    // The steps of browserOrderBefore ahead of the name, each as "smaller goes first".
    order.leadingKey = [options](const index::FileSortKey& file) {
        index::LeadingKey key {};
        key[0] = options.separateMIDIFiles && isMIDIExtension(file.extension);
        if (options.sortRomanNumerals) {
            const auto rank = romanRank(file.name);
            key[1] = rank ? 0 : 1;
            key[2] = rank.value_or(0);
        }
        if (options.sortByBPM) {
            key[3] = file.bpm ? 0 : 1;
            key[4] = file.bpm.value_or(0);
        }
        return key;
    };
    order.leadingKeyReadsName = options.sortRomanNumerals;
    return order;
}

} // namespace kivo::organise

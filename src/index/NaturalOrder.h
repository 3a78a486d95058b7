#pragma once

// The "natural" name order of the system file browser: case-insensitive, locale-aware, digit runs by
// numeric value ("Kit 2" before "Kit 10"). The one place of the index that uses Qt (its collator);
// the interface stays plain C++.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kivo::index {

// Negative, zero or positive as a orders before, with or after b.
int naturalCompare(std::string_view a, std::string_view b);

// Rank of every name in natural order; names the order holds equal share a rank. Much faster than
// sorting with naturalCompare when there are many names: each name is turned into a sort key once.
std::vector<std::uint32_t> naturalRanks(const std::vector<std::string_view>& names);

// Names made ready once for many comparisons, as when the first few of a large set are picked.
class NaturalNames {
public:
    explicit NaturalNames(const std::vector<std::string_view>& names);
    ~NaturalNames();
    // naturalCompare of the a-th and the b-th name.
    int compare(std::size_t a, std::size_t b) const;

private:
    struct Prepared;
    std::unique_ptr<Prepared> m_prepared;
};

} // namespace kivo::index

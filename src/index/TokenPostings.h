#pragma once

// One token index of one collection: each distinct token with the sorted ids of the paths that hold it.
//
// The lists are laid out once, end to end, and shared by every state that has not changed them. A
// patch (a quick refresh, a sync's walk) does not lay them out again: it adds a small layer of the
// tokens it changed, each with the ids it gained and lost against its laid-out list (never the whole
// list: a common token such as "wav" is held by most of a library), and the tokens no list had before.
// A search reads both, passing over a changed token's lost ids. Once the changes made since the lists
// were laid out outgrow a share of them, the next patch lays everything out afresh, so the layer stays
// small and a patch costs what it changes (and, amortised, nothing more).

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kivo::index {

using FileBitmap = std::vector<std::uint64_t>;
// Tokens, each with the ids of its paths.
using TokenEntries = std::vector<std::pair<std::string, std::vector<std::uint32_t>>>;

// Paths taken from and given to one token, by token.
struct TokenChange {
    std::vector<std::uint32_t> removed, added;
};
using TokenChanges = std::map<std::string, TokenChange, std::less<>>;

class TokenPostings {
public:
    TokenPostings();
    // Takes token -> ids (in any order, repeats allowed) and keeps them sorted and distinct.
    static TokenPostings build(TokenEntries entries);
    // These postings with `changes` made: removals first, tokens left without ids dropped.
    TokenPostings patched(const TokenChanges& changes) const;

    // Every token with ids, in ascending order, with its ids (ascending).
    template <class Visit> void forEach(Visit&& visit) const;
    std::size_t tokenCount() const;
    // Sets the bit of every id that has a token containing `query`.
    void collect(std::string_view query, FileBitmap& bits) const;
    // The ids whose token is exactly `token`, empty when none. A changed token's are put together in
    // `scratch`, which the result then points into.
    std::span<const std::uint32_t> exactly(std::string_view token, std::vector<std::uint32_t>& scratch) const;
    // How many distinct tokens the id has here (at most 255).
    std::uint32_t tokensOf(std::uint32_t id) const;
    // Whether the lists are all laid out end to end, with no layer of changes over them.
    bool laidOut() const { return !m_changes; }
    std::size_t memoryBytes() const;

private:
    // Tokens sorted and laid end to end ("\n" before each, so a substring test over all of them is one
    // memmem walk), each with its ids.
    struct Lists {
        std::string blob;
        // The tokens held by a large share of the ids ("wav", a library's name) also as bitmaps, no
        // larger than their id arrays: a short query contains many of them, and or-ing words beats
        // setting bits.
        std::vector<std::uint32_t> denseTokens; // ascending
        std::vector<FileBitmap> denseBits;
        std::vector<std::uint8_t> tokenCounts; // by id
        std::vector<std::uint32_t> starts; // offset of each token's first character
        std::vector<std::uint32_t> postingStart; // one more than there are tokens
        std::vector<std::uint32_t> ids;

        // Without `counted`, tokenCounts is left empty.
        static Lists build(TokenEntries entries, bool counted = true);
        std::size_t size() const { return starts.size(); }
        std::string_view token(std::size_t i) const;
        std::span<const std::uint32_t> postings(std::size_t i) const
        {
            return { ids.data() + postingStart[i], postingStart[i + 1] - postingStart[i] };
        }
        // The token's index, or size() when absent.
        std::size_t find(std::string_view token) const;
        std::size_t memoryBytes() const;
    };
    // How a token of m_lists differs from its laid-out list: the ids it gained that the list lacks and
    // the ids of the list it lost, each ascending.
    struct Delta {
        std::vector<std::uint32_t> added, removed;
    };
    // What patches changed since `m_lists` was laid out.
    struct Changes {
        // Tokens of m_lists whose ids changed, by index (ascending).
        std::vector<std::pair<std::uint32_t, std::shared_ptr<const Delta>>> changed;
        // Tokens m_lists does not have.
        Lists added;
        // Ids whose token count changed, ascending, with the new count.
        std::vector<std::pair<std::uint32_t, std::uint8_t>> counts;
        // How many id changes went into this: once it outgrows a share of the lists, they are laid
        // out afresh.
        std::size_t weight = 0;

        const Delta* deltaOf(std::size_t token) const;
    };

    // m_lists' ids of token `t`, as the changes leave them; a changed token's are put together in
    // `scratch`.
    std::span<const std::uint32_t> current(std::size_t t, std::vector<std::uint32_t>& scratch) const;
    static void collectIn(
        const Lists& lists, std::string_view query, FileBitmap& bits, const Changes* changes);
    TokenEntries entries() const;

    std::shared_ptr<const Lists> m_lists;
    std::shared_ptr<const Changes> m_changes; // none when nothing changed
};

template <class Visit> void TokenPostings::forEach(Visit&& visit) const
{
    const Lists& lists = *m_lists;
    const Lists* added = m_changes ? &m_changes->added : nullptr;
    std::size_t t = 0, a = 0;
    const std::size_t addedCount = added ? added->size() : 0;
    std::vector<std::uint32_t> scratch;
    while (t < lists.size() || a < addedCount) {
        if (a < addedCount && (t == lists.size() || added->token(a) < lists.token(t))) {
            visit(added->token(a), added->postings(a));
            ++a;
            continue;
        }
        const auto ids = current(t, scratch);
        if (!ids.empty())
            visit(lists.token(t), ids);
        ++t;
    }
}

} // namespace kivo::index

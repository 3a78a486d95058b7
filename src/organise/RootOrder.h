#pragma once

// Reordering a collection's root rows by dragging them among themselves. The roots keep the
// collection's stored order (never the sibling sort); a drop turns into one move that the window
// hands to the collection, which stores the new order. Pure.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

namespace kivo::organise {

// Move semantics of a list: the item at `source` lands before the item that was at `destination`
// (destination == count puts it last). Destinations source and source + 1 move nothing.
struct RootMove {
    std::size_t source = 0;
    std::size_t destination = 0;
    bool operator==(const RootMove&) const = default;
};

// Where a dragged root would land. `rowCentres` are the vertical centres of the root rows (each root
// with whatever it shows expanded below it, in row order, in the drag's coordinates); the dragged row
// has moved by currentY - startY. None when the row is not moved or the input makes no sense.
std::optional<RootMove> rootDragMove(
    const std::vector<double>& rowCentres, std::size_t dragged, double startY, double currentY);

// Applies a move to any list with the same move semantics; false (and nothing changed) when the move
// is out of range or moves nothing.
template <class T> bool applyMove(std::vector<T>& items, const RootMove& move)
{
    const std::size_t count = items.size();
    if (move.source >= count || move.destination > count || move.destination == move.source
        || move.destination == move.source + 1)
        return false;
    if (move.source < move.destination)
        std::rotate(
            items.begin() + move.source, items.begin() + move.source + 1, items.begin() + move.destination);
    else
        std::rotate(
            items.begin() + move.destination, items.begin() + move.source, items.begin() + move.source + 1);
    return true;
}

} // namespace kivo::organise

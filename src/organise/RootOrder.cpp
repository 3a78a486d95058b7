#include "organise/RootOrder.h"

#include <cmath>

namespace kivo::organise {

std::optional<RootMove> rootDragMove(
    const std::vector<double>& rowCentres, std::size_t dragged, double startY, double currentY)
{
    if (dragged >= rowCentres.size() || !std::isfinite(startY) || !std::isfinite(currentY))
        return std::nullopt;
    const double centre = rowCentres[dragged] + (currentY - startY);
    // The dragged row goes after every other row whose centre it has passed.
    std::size_t before = 0;
    for (std::size_t i = 0; i < rowCentres.size(); ++i)
        if (i != dragged && rowCentres[i] < centre)
            ++before;
    const RootMove move { dragged, before <= dragged ? before : before + 1 };
    if (move.destination == move.source || move.destination == move.source + 1)
        return std::nullopt;
    return move;
}

} // namespace kivo::organise

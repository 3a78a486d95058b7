#pragma once

// A collection's browser tree with every folder open, as the window would draw it: for the
// command line and for measuring a whole pass. Pure, no Qt.

#include "organise/BrowserTree.h"

#include <string>
#include <vector>

namespace kivo::organise {

struct TreeLine {
    int depth = 0; // 0 for the rows at the top
    ShownNode row;
};

// Loads every folder below the current collection's roots through the tree's loader.
void loadEverything(BrowserTree& tree);
// The current collection's rows depth-first with every loaded folder open, down to `maxDepth`
// levels (0: all of them), in one pass.
std::vector<TreeLine> expandedRows(const BrowserTree& tree, int maxDepth = 0);
// The marks a row shows in hide mode, "hidden", "skipped" and "auto-skipped", tab-separated.
std::string markText(const RowMarks& marks);

} // namespace kivo::organise

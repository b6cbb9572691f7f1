// The comparison table: each figure for mivo, Wine's DirectSound and bare
// SDL2, the ratios mivo/Wine and mivo/SDL2, and which targets the row meets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table_rows.h"

namespace compare {

// A block length as given on the command line ("2.5") and in frames.
struct BlockLength {
    std::string label;
    uint32_t frames = 0;
};

// Prints the table; returns the number of target checks that failed.
int PrintTable(const Runs& runs, const std::vector<BlockLength>& blocks);

// One line per run with the raw counts behind the table.
void PrintRunDetails(const Runs& runs, const std::vector<BlockLength>& blocks);

}  // namespace compare

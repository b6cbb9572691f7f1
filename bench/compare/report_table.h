// The comparison table: each figure for mivo, Wine's DirectSound and bare
// SDL2, the ratios mivo/Wine and mivo/SDL2, and which targets the row meets.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "capture_analysis.h"
#include "run_figures.h"

namespace compare {

struct Run {
    bool present = false;
    RunFigures figures;
    CaptureFaults faults;
    WakeProbe probe;
};

// Runs by contender ("mivo", "wine", "sdl2") and block length in ms.
using Runs = std::map<std::string, std::map<int, Run>>;

// Prints the table; returns the number of target checks that failed.
int PrintTable(const Runs& runs, const std::vector<int>& blockMs);

// One line per run with the raw counts behind the table.
void PrintRunDetails(const Runs& runs, const std::vector<int>& blockMs);

}  // namespace compare

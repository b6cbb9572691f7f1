// The table of the runs with several streams in one process: for each
// block length, number of streams and contender, what the streams cost the
// client and the servers, whether every block event came, and the faults
// of the marked stream's tone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report_table.h"
#include "run_figures.h"

namespace compare {

struct StreamsSetting {
    double ticksPerSecond = 100.0;
    double idleServer = 0.0;  // ms/s the servers spend with only the capture running
    NodeLatency idleGraph;    // PipeWire's smallest node.latency then (unknown elsewhere)
};

// Reads DIR/<contender>-<ms>ms-<N>streams.* and prints the table.
void PrintStreamsTable(const std::string& dir, const std::vector<BlockLength>& blocks,
                       const std::vector<uint32_t>& streams, const StreamsSetting& setting);

}  // namespace compare

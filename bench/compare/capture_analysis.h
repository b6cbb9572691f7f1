// Finds the faults of the played tone in a capture of the sink's monitor:
// silences and breaks of the sine's phase.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compare {

struct CaptureFaults {
    bool readable = false;
    uint64_t toneFrames = 0;   // from the first to the last sounding frame
    uint32_t silences = 0;     // runs of silence longer than 1 ms inside the tone
    double silentMs = 0.0;     // their total length
    uint32_t phaseBreaks = 0;  // breaks of the sine not at the edge of such a silence
    // Where each silence and break begins, in frames from the first
    // sounding frame.
    std::vector<uint64_t> silenceAt;
    std::vector<uint64_t> breakAt;
    uint32_t Gaps() const { return silences + phaseBreaks; }
};

// How many of `at` lie at or past `frame`.
uint32_t CountFrom(const std::vector<uint64_t>& at, uint64_t frame);

// `left` holds one channel of the capture (the tone is the same on both).
CaptureFaults FindToneFaults(const std::vector<int16_t>& left);

// Reads a raw capture (s16le, interleaved stereo) and analyses its first
// channel.
CaptureFaults AnalyseCapture(const std::string& path);

}  // namespace compare

namespace compare {

// Runs the analysis on made-up captures with known faults (a clean tone, a
// block played again, frames dropped, a silence, a short silence); prints
// what it finds and returns the number of cases it got wrong.
int CheckToneFaultFinder();

}  // namespace compare

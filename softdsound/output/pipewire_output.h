// A native PipeWire stream, for outputs a PipeWire server carries. Its pulse
// server would run the whole graph at a cycle no longer than a quarter of
// what a pulse stream holds; a native stream holds one cycle queued and one
// playing, so a 20 ms target costs the graph 100 cycles a second instead of
// 190, and nothing is translated or copied through the pulse server.
#pragma once

#include <memory>
#include <string>

#include "output_backend.h"

namespace mivo_dsound {

// Frames of the graph's cycle the stream asks for, for a target of
// `targetFrames` in all.
uint32_t PipeWireCycleFrames(uint32_t targetFrames);

// A stream on the PipeWire node `sink` (empty: the default, followed when it
// changes), in `format`, not yet started; null when no PipeWire server of
// this session answers or the stream does not reach a sink in time.
std::unique_ptr<Output> OpenPipeWireOutput(const OutputFormat& format, const std::string& sink,
                                           RenderTarget& target, const TimeSource& time);

}  // namespace mivo_dsound

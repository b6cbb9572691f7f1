// Wine's DirectSound has no hooks to ask for its output latency; the server's
// own figure for the stream is sampled beside the run instead.
#include "output_latency_probe.h"

namespace compare {

OutputLatencyProbe::OutputLatencyProbe(CdsObject& /*sound*/, RunLog& log) : log_(log) {}

// The declaration is shared with the Linux build, whose destructor releases
// the hooks.
OutputLatencyProbe::~OutputLatencyProbe() = default;  // NOLINT(performance-trivially-destructible)

void OutputLatencyProbe::Sample(int64_t /*nowNs*/) {}

}  // namespace compare

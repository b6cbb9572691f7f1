// The device's audio threads (the pacing thread, libpulse's loop) ask to be
// scheduled as SDL asks for its audio thread: a late wake-up there is a
// late block event or a server running dry.
#pragma once

namespace mivo_dsound {

// Raises the calling thread to the highest priority a process may set
// without real-time scheduling (nice -20). Refused without the privilege,
// and then the thread runs as it is.
void RaiseAudioThreadPriority();

}  // namespace mivo_dsound

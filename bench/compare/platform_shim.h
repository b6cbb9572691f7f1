// What the benchmark client needs from the operating system, the same on
// Linux (eventfd, /proc) and on Windows under Wine (Win32 events, the /proc
// of the Linux process that Wine runs, seen through drive Z:).
#pragma once

#include <cstdint>
#include <string>

#include "mivo.h"

namespace compare {

// An auto-reset event that the sound device signals.
class ClientEvent {
public:
    ClientEvent();
    ~ClientEvent();
    ClientEvent(const ClientEvent&) = delete;
    ClientEvent& operator=(const ClientEvent&) = delete;

    bool Valid() const;
    HANDLE Handle() const { return handle_; }
    // True when signalled within `timeoutMs`; the signal is consumed.
    bool Wait(int timeoutMs);

private:
    HANDLE handle_ = nullptr;
};

// A window handle for the device: any non-null value on Linux, a
// message-only window on Windows (there is no display under Wine here).
HWND ClientWindow();

// Monotonic time in nanoseconds.
int64_t NowNs();

// utime + stime, in clock ticks, of a Linux process ("self" or a pid), read
// from its /proc/<pid>/stat; false when it cannot be read.
bool ReadCpuTicks(const std::string& pid, uint64_t& ticks);

}  // namespace compare

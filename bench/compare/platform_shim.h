// What the benchmark client needs from the operating system, the same on
// Linux (eventfd, /proc) and on Windows under Wine (Win32 events, the /proc
// of the Linux process that Wine runs, seen through drive Z:).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mivo.h"

#if !defined(_WIN32)
#include <poll.h>
#endif

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

// The block events of several streams, waited on together by one thread.
class EventSet {
public:
    // The event must outlive the set; its index is the order of adding.
    void Add(const ClientEvent& event);
    // Waits up to `timeoutMs` for any event and fills `ready` with the
    // index of every event found signalled (each signal consumed); false
    // when none came.
    bool Wait(int timeoutMs, std::vector<size_t>& ready);

private:
#if defined(_WIN32)
    std::vector<HANDLE> handles_;
    size_t blockingGroup_ = 0;
#else
    std::vector<pollfd> fds_;
#endif
};

// A window handle for the device: any non-null value on Linux, a
// message-only window on Windows (there is no display under Wine here).
HWND ClientWindow();

// Monotonic time in nanoseconds.
int64_t NowNs();

// Wall-clock time in nanoseconds since the Unix epoch. Unlike NowNs, it is
// one clock for the Linux programs and the Windows client under Wine, whose
// QueryPerformanceCounter need not count from CLOCK_MONOTONIC's origin.
int64_t RealtimeNs();

// utime + stime, in clock ticks, of a Linux process ("self" or a pid), read
// from its /proc/<pid>/stat; false when it cannot be read.
bool ReadCpuTicks(const std::string& pid, uint64_t& ticks);

}  // namespace compare

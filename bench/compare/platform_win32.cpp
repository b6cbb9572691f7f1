#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "platform_shim.h"
#include "proc_stat.h"

namespace compare {

ClientEvent::ClientEvent() { handle_ = CreateEventA(nullptr, FALSE, FALSE, nullptr); }

ClientEvent::~ClientEvent() {
    if (handle_ != nullptr) CloseHandle(handle_);
}

bool ClientEvent::Valid() const { return handle_ != nullptr; }

bool ClientEvent::Wait(int timeoutMs) {
    return WaitForSingleObject(handle_, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

namespace {

// One wait takes at most this many handles.
constexpr size_t kGroup = MAXIMUM_WAIT_OBJECTS;

// Adds to `ready` every signalled event of group `group`, waiting up to
// `timeoutMs` for the first. WaitForMultipleObjects reports (and resets)
// the lowest signalled one only, so the rest of the group is asked again.
void Collect(const std::vector<HANDLE>& handles, size_t group, DWORD timeoutMs,
             std::vector<size_t>& ready) {
    size_t from = group * kGroup;
    const size_t end = std::min(from + kGroup, handles.size());
    DWORD timeout = timeoutMs;
    while (from < end) {
        const auto count = static_cast<DWORD>(end - from);
        const DWORD got = WaitForMultipleObjects(count, &handles[from], FALSE, timeout);
        if (got >= WAIT_OBJECT_0 + count) return;  // timed out, failed or abandoned
        ready.push_back(from + (got - WAIT_OBJECT_0));
        from += got - WAIT_OBJECT_0 + 1;
        timeout = 0;
    }
}

}  // namespace

void EventSet::Add(const ClientEvent& event) { handles_.push_back(event.Handle()); }

bool EventSet::Wait(int timeoutMs, std::vector<size_t>& ready) {
    ready.clear();
    const size_t groups = (handles_.size() + kGroup - 1) / kGroup;
    if (groups == 0) return false;
    if (groups > 1) {
        for (size_t g = 0; g < groups; ++g) Collect(handles_, g, 0, ready);
        if (!ready.empty()) return true;
    }
    // One thread can block on one group only; the others are looked at once
    // it wakes. Every stream runs at one rate, so a stream of another group
    // waits a block at most, and the blocking group takes turns.
    const size_t blocking = blockingGroup_;
    blockingGroup_ = (blockingGroup_ + 1) % groups;
    Collect(handles_, blocking, static_cast<DWORD>(timeoutMs), ready);
    if (ready.empty()) return false;
    for (size_t g = 0; g < groups; ++g) {
        if (g != blocking) Collect(handles_, g, 0, ready);
    }
    return true;
}

HWND ClientWindow() {
    static HWND window = CreateWindowExA(0, "STATIC", "mivo compare", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                         nullptr, nullptr, nullptr);
    return window != nullptr ? window : GetDesktopWindow();
}

int64_t NowNs() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t count = now.QuadPart;
    return count / frequency * 1000000000 + count % frequency * 1000000000 / frequency;
}

// Wine answers the precise call from the host's CLOCK_REALTIME (the plain
// GetSystemTimeAsFileTime may read CLOCK_REALTIME_COARSE, a tick behind),
// so it reads as the Linux programs' wall clock does.
int64_t RealtimeNs() {
    // 100 ns ticks from 1601-01-01 to 1970-01-01.
    constexpr int64_t kUnixEpochTicks = 116444736000000000;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const int64_t ticks =
        static_cast<int64_t>((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
    return (ticks - kUnixEpochTicks) * 100;
}

// Wine runs this program as a Linux process and maps the Linux root to
// drive Z:, so the process's own /proc entry (and the servers') can be read
// as plain files: the same figure the Linux programs read.
bool ReadCpuTicks(const std::string& pid, uint64_t& ticks) {
    return ReadProcStatTicks("Z:\\proc\\" + pid + "\\stat", ticks);
}

}  // namespace compare

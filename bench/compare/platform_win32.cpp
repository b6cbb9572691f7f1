#include <windows.h>

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

// Wine runs this program as a Linux process and maps the Linux root to
// drive Z:, so the process's own /proc entry (and the servers') can be read
// as plain files: the same figure the Linux programs read.
bool ReadCpuTicks(const std::string& pid, uint64_t& ticks) {
    return ReadProcStatTicks("Z:\\proc\\" + pid + "\\stat", ticks);
}

}  // namespace compare

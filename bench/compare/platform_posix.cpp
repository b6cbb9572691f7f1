#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>

#include "platform_shim.h"
#include "proc_stat.h"

namespace compare {

ClientEvent::ClientEvent() {
    // Non-blocking, as the device asks: it must never stall writing to it.
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Descriptor 0 would read as "no event" to the device.
    if (fd > 0) handle_ = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

ClientEvent::~ClientEvent() {
    if (handle_ != nullptr) ::close(static_cast<int>(reinterpret_cast<intptr_t>(handle_)));
}

bool ClientEvent::Valid() const { return handle_ != nullptr; }

bool ClientEvent::Wait(int timeoutMs) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(handle_));
    pollfd waiting{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&waiting, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;
    uint64_t count = 0;
    // Several signals since the last wait add up in the counter and are
    // consumed as one, like an auto-reset event.
    return ::read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

void EventSet::Add(const ClientEvent& event) {
    fds_.push_back({static_cast<int>(reinterpret_cast<intptr_t>(event.Handle())), POLLIN, 0});
}

bool EventSet::Wait(int timeoutMs, std::vector<size_t>& ready) {
    ready.clear();
    int got = 0;
    do {
        got = ::poll(fds_.data(), fds_.size(), timeoutMs);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    for (size_t i = 0; i < fds_.size(); ++i) {
        if ((fds_[i].revents & POLLIN) == 0) continue;
        // The counter holds every signal since the last read; like an
        // auto-reset event, they count as one.
        uint64_t count = 0;
        if (::read(fds_[i].fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
            ready.push_back(i);
        }
    }
    return !ready.empty();
}

HWND ClientWindow() { return reinterpret_cast<HWND>(static_cast<intptr_t>(1)); }

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t RealtimeNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

bool ReadCpuTicks(const std::string& pid, uint64_t& ticks) {
    return ReadProcStatTicks("/proc/" + pid + "/stat", ticks);
}

}  // namespace compare

// A scriptable stand-in for the sound platform, linked in place of the real
// loader and allocator. It records every platform call in order, can make any
// call fail with a chosen result or hand back a null output, reports chosen
// values, and counts AddRef/Release on every interface it hands out. As in
// COM, CreateSoundBuffer and QueryInterface hand back a live object with any
// success code, and poison (see FailureOutput) with an error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// One interface handed to the library. Objects stay allocated until Reset()
// so that a release past zero is counted rather than crashing.
struct ObjectRecord {
    std::string name;  // "device", "primary", "streaming", "notify"
    long refs = 1;
    int addRefs = 0;
    int releases = 0;
    bool overReleased = false;
};

struct BufferRecord {
    DSBUFFERDESC desc{};
    std::vector<uint8_t> descFormat;                 // the format the description pointed to
    std::vector<uint8_t> setFormat;                  // the record last given to SetFormat
    std::vector<DSBPOSITIONNOTIFY> notifyPositions;  // as given to SetNotificationPositions
};

class Platform {
public:
    static Platform& Get();

    // Forgets everything: calls, scripts, values and objects.
    void Reset();

    // --- Scripting. `call` is the logged name, e.g. "streaming.Lock".
    // The next calls of `call` answer these results, in order; then DS_OK.
    void Script(const std::string& call, std::vector<HRESULT> results);
    // Every call of `call` answers `result`.
    void FailAlways(const std::string& call, HRESULT result);
    // The next call of `call` that would hand back an object hands back null.
    void NullOutput(const std::string& call);
    // The allocation with this index (0 = the next one) fails.
    void FailAllocation(int index);
    // Allocations larger than this fail, as on a machine short of memory.
    void LimitAllocations(std::size_t bytes);
    // Drops every scripted result, null output and allocation failure not
    // yet used, and the chosen GetFormat answer.
    void ClearScripts();
    // Logs allocations and frees among the calls.
    void LogMemory(bool on);

    DWORD speakerConfig = DSSPEAKER_STEREO;
    // GetFormat reports these bytes (default: the record last set) and this
    // size (default: the length of those bytes).
    std::optional<std::vector<uint8_t>> reportedFormat;
    std::optional<DWORD> reportedSize;
    // Lock grants this length (default: the bytes asked for).
    std::optional<DWORD> lockLength;
    DWORD playCursor = 0;
    DWORD writeCursor = 0;
    LONG volume = 0;

    // --- Observation.
    std::vector<std::string> Calls() const;  // "name(args)"
    std::vector<std::string> CallsSince(std::size_t mark) const;
    std::size_t Mark() const;
    void ClearCalls();
    int Count(const std::string& call) const;
    const ObjectRecord* Object(const std::string& name) const;  // the latest of that name
    BufferRecord* Buffer(const std::string& name);              // the latest of that name
    // Empty when every interface was released exactly once down to zero,
    // nothing was released past zero, every allocation was freed, the
    // library is not loaded and no failed call's output was touched.
    std::string Leaks() const;
    bool LibraryLoaded() const;
    std::size_t LiveAllocations() const;

    // --- Used by the fake objects and entry points.
    void Log(const std::string& name, const std::string& args = "");
    HRESULT Next(const std::string& call);
    bool TakeNullOutput(const std::string& call);
    ObjectRecord& NewObject(const std::string& name);
    BufferRecord& NewBuffer(const std::string& name);
    // An object written to the out-pointer of a call answering an error code
    // (and of DirectSoundCreate answering anything but DS_OK): the library
    // must neither keep nor release it.
    void* FailureOutput();
    template <typename T>
    T* Keep(std::shared_ptr<T> object) {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        owned_.push_back(object);
        return object.get();
    }
    HMODULE LoadLibrary();
    void UnloadLibrary();
    void* Allocate(std::size_t bytes);
    void Free(void* memory);

private:
    Platform() = default;

    mutable std::recursive_mutex mutex_;
    std::vector<std::pair<std::string, std::string>> calls_;
    std::map<std::string, std::deque<HRESULT>> scripted_;
    std::map<std::string, HRESULT> failAlways_;
    std::map<std::string, int> nullOutputs_;
    std::deque<std::unique_ptr<ObjectRecord>> objects_;
    std::deque<std::unique_ptr<BufferRecord>> buffers_;
    std::map<std::string, BufferRecord*> latestBuffer_;
    std::vector<std::shared_ptr<void>> owned_;
    std::map<void*, std::size_t> allocations_;
    std::vector<int> failingAllocations_;
    std::optional<std::size_t> allocationLimit_;
    int allocationIndex_ = 0;
    bool logMemory_ = false;
    int loadCount_ = 0;
    long poisonTouches_ = 0;

    friend class Poison;
};

std::string Hex(uint32_t value);

}  // namespace fake

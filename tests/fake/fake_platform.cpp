#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace fake {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

namespace {

std::vector<uint8_t> FormatBytes(const WAVEFORMATEX* format) {
    if (format == nullptr) return {};
    const auto* bytes = reinterpret_cast<const uint8_t*>(format);
    return {bytes, bytes + sizeof(WAVEFORMATEX) + format->cbSize};
}

std::string PointerArg(const void* pointer) { return pointer == nullptr ? "null" : "ptr"; }

// Reference counting shared by every fake interface.
template <typename Interface>
class Counted : public Interface {
public:
    Counted(Platform& platform, ObjectRecord& record) : platform_(platform), record_(record) {}

    HRESULT QueryInterface(const IID&, void** object) override {
        platform_.Log(record_.name + ".QueryInterface");
        if (object != nullptr) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override {
        platform_.Log(record_.name + ".AddRef");
        ++record_.addRefs;
        return static_cast<ULONG>(++record_.refs);
    }
    ULONG Release() override {
        platform_.Log(record_.name + ".Release");
        ++record_.releases;
        if (record_.refs <= 0) {
            record_.overReleased = true;
            return 0;
        }
        return static_cast<ULONG>(--record_.refs);
    }

protected:
    ~Counted() = default;

    HRESULT Answer(const std::string& method, const std::string& args = "") {
        const std::string call = record_.name + "." + method;
        platform_.Log(call, args);
        return platform_.Next(call);
    }
    Platform& platform_;
    ObjectRecord& record_;
};

class FakeNotify final : public Counted<IDirectSoundNotify> {
public:
    FakeNotify(Platform& platform, ObjectRecord& record, BufferRecord& buffer)
        : Counted(platform, record), buffer_(buffer) {}

    HRESULT SetNotificationPositions(DWORD count, const DSBPOSITIONNOTIFY* positions) override {
        const HRESULT result = Answer("SetNotificationPositions", std::to_string(count));
        if (positions != nullptr) buffer_.notifyPositions.assign(positions, positions + count);
        return result;
    }

private:
    BufferRecord& buffer_;
};

class FakeBuffer final : public Counted<IDirectSoundBuffer> {
public:
    FakeBuffer(Platform& platform, ObjectRecord& record, BufferRecord& buffer)
        : Counted(platform, record), buffer_(buffer) {}

    HRESULT QueryInterface(const IID& iid, void** object) override {
        const std::string call = record_.name + ".QueryInterface";
        platform_.Log(call, IsEqualGUID(iid, kIidDirectSoundNotify) ? "IDirectSoundNotify" : "?");
        const HRESULT result = platform_.Next(call);
        if (result < 0) {
            *object = platform_.FailureOutput();
            return result;
        }
        if (platform_.TakeNullOutput(call)) {
            *object = nullptr;
            return result;
        }
        ObjectRecord& notify = platform_.NewObject("notify");
        *object = static_cast<IDirectSoundNotify*>(
            platform_.Keep(std::make_shared<FakeNotify>(platform_, notify, buffer_)));
        return result;
    }
    HRESULT GetCaps(DSBCAPS*) override { return Answer("GetCaps"); }
    HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
        const HRESULT result =
            Answer("GetCurrentPosition", PointerArg(play) + "," + PointerArg(write));
        if (result == DS_OK) {
            if (play != nullptr) *play = platform_.playCursor;
            if (write != nullptr) *write = platform_.writeCursor;
        }
        return result;
    }
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD bytes, DWORD* written) override {
        const HRESULT result =
            Answer("GetFormat", PointerArg(format) + "," + std::to_string(bytes));
        if (result != DS_OK) return result;
        const std::vector<uint8_t> held =
            platform_.reportedFormat ? *platform_.reportedFormat : buffer_.setFormat;
        const DWORD size =
            platform_.reportedSize ? *platform_.reportedSize : static_cast<DWORD>(held.size());
        if (written != nullptr) *written = size;
        if (format != nullptr) {
            std::memcpy(format, held.data(), std::min<std::size_t>(bytes, held.size()));
        }
        return DS_OK;
    }
    HRESULT GetVolume(LONG* volume) override {
        const HRESULT result = Answer("GetVolume");
        if (result == DS_OK) *volume = platform_.volume;
        return result;
    }
    HRESULT GetPan(LONG*) override { return Answer("GetPan"); }
    HRESULT GetFrequency(DWORD*) override { return Answer("GetFrequency"); }
    HRESULT GetStatus(DWORD*) override { return Answer("GetStatus"); }
    HRESULT Initialize(IDirectSound*, const DSBUFFERDESC*) override { return Answer("Initialize"); }
    HRESULT Lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2,
                 DWORD flags) override {
        const HRESULT result =
            Answer("Lock", std::to_string(offset) + "," + std::to_string(bytes) + "," +
                               PointerArg(p2) + "," + PointerArg(n2) + "," + std::to_string(flags));
        if (result != DS_OK) return result;
        if (storage_.size() < buffer_.desc.dwBufferBytes)
            storage_.resize(buffer_.desc.dwBufferBytes);
        *p1 = storage_.data() + offset;
        *n1 = platform_.lockLength ? *platform_.lockLength : bytes;
        return DS_OK;
    }
    HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override {
        return Answer("Play", std::to_string(reserved) + "," + std::to_string(priority) + "," +
                                  std::to_string(flags));
    }
    HRESULT SetCurrentPosition(DWORD position) override {
        return Answer("SetCurrentPosition", std::to_string(position));
    }
    HRESULT SetFormat(const WAVEFORMATEX* format) override {
        const HRESULT result =
            Answer("SetFormat", format == nullptr ? "null" : Hex(format->wFormatTag));
        buffer_.setFormat = FormatBytes(format);
        return result;
    }
    HRESULT SetVolume(LONG volume) override {
        const HRESULT result = Answer("SetVolume", std::to_string(volume));
        if (result == DS_OK) platform_.volume = volume;
        return result;
    }
    HRESULT SetPan(LONG) override { return Answer("SetPan"); }
    HRESULT SetFrequency(DWORD) override { return Answer("SetFrequency"); }
    HRESULT Stop() override { return Answer("Stop"); }
    HRESULT Unlock(void* p1, DWORD n1, void* p2, DWORD n2) override {
        const auto offset = static_cast<const uint8_t*>(p1) - storage_.data();
        return Answer("Unlock", (p1 == nullptr ? std::string("null") : std::to_string(offset)) +
                                    "," + std::to_string(n1) + "," + PointerArg(p2) + "," +
                                    std::to_string(n2));
    }
    HRESULT Restore() override { return Answer("Restore"); }

private:
    BufferRecord& buffer_;
    std::vector<uint8_t> storage_;
};

class FakeDevice final : public Counted<IDirectSound> {
public:
    using Counted::Counted;

    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                              IUnknown* outer) override {
        const bool primary = (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
        const std::string kind = primary ? "primary" : "streaming";
        const HRESULT result =
            Answer("CreateSoundBuffer", kind + ",flags=" + Hex(desc->dwFlags) +
                                            ",bytes=" + std::to_string(desc->dwBufferBytes) +
                                            ",outer=" + PointerArg(outer));
        const std::string call = record_.name + ".CreateSoundBuffer";
        if (result < 0) {
            *buffer = static_cast<IDirectSoundBuffer*>(platform_.FailureOutput());
            return result;
        }
        if (platform_.TakeNullOutput(call)) {
            *buffer = nullptr;
            return result;
        }
        BufferRecord& record = platform_.NewBuffer(kind);
        record.desc = *desc;
        record.descFormat = FormatBytes(desc->lpwfxFormat);
        *buffer = platform_.Keep(
            std::make_shared<FakeBuffer>(platform_, platform_.NewObject(kind), record));
        return result;
    }
    HRESULT GetCaps(DSCAPS*) override { return Answer("GetCaps"); }
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) override {
        return Answer("DuplicateSoundBuffer");
    }
    HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
        return Answer("SetCooperativeLevel", PointerArg(window) + "," + std::to_string(level));
    }
    HRESULT Compact() override { return Answer("Compact"); }
    HRESULT GetSpeakerConfig(DWORD* config) override {
        const HRESULT result = Answer("GetSpeakerConfig");
        if (result == DS_OK) *config = platform_.speakerConfig;
        return result;
    }
    HRESULT SetSpeakerConfig(DWORD) override { return Answer("SetSpeakerConfig"); }
    HRESULT Initialize(const GUID*) override { return Answer("Initialize"); }
};

HRESULT WINAPI FakeDirectSoundCreate(const GUID* device, IDirectSound** out, IUnknown* outer) {
    Platform& platform = Platform::Get();
    platform.Log(
        "DirectSoundCreate",
        (device == nullptr ? std::string("null") : Hex(device->Data1)) + "," + PointerArg(outer));
    const HRESULT result = platform.Next("DirectSoundCreate");
    // Unlike the calls above, a success code here hands back poison too: the
    // library must not take a device from any result but DS_OK.
    if (result != DS_OK) {
        *out = static_cast<IDirectSound*>(platform.FailureOutput());
        return result;
    }
    if (platform.TakeNullOutput("DirectSoundCreate")) {
        *out = nullptr;
        return DS_OK;
    }
    *out = platform.Keep(std::make_shared<FakeDevice>(platform, platform.NewObject("device")));
    return DS_OK;
}

// The fake module handle; any non-null value will do.
int moduleTag = 0;

}  // namespace

// What a call answering an error code leaves in its out-pointer, as a callee
// that ignores COM's rule to null it might. Any use of it is a fault.
class Poison final : public IDirectSound {
public:
    HRESULT QueryInterface(const IID&, void**) override { return Touch(); }
    ULONG AddRef() override { return static_cast<ULONG>(Touch()); }
    ULONG Release() override { return static_cast<ULONG>(Touch()); }
    HRESULT CreateSoundBuffer(const DSBUFFERDESC*, IDirectSoundBuffer**, IUnknown*) override {
        return Touch();
    }
    HRESULT GetCaps(DSCAPS*) override { return Touch(); }
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) override {
        return Touch();
    }
    HRESULT SetCooperativeLevel(HWND, DWORD) override { return Touch(); }
    HRESULT Compact() override { return Touch(); }
    HRESULT GetSpeakerConfig(DWORD*) override { return Touch(); }
    HRESULT SetSpeakerConfig(DWORD) override { return Touch(); }
    HRESULT Initialize(const GUID*) override { return Touch(); }

private:
    HRESULT Touch() {
        Platform& platform = Platform::Get();
        const std::lock_guard<std::recursive_mutex> lock(platform.mutex_);
        ++platform.poisonTouches_;
        platform.Log("poison.touched");
        return E_FAIL;
    }
};

Platform& Platform::Get() {
    static Platform platform;
    return platform;
}

void Platform::Reset() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    ClearScripts();
    calls_.clear();
    objects_.clear();
    buffers_.clear();
    latestBuffer_.clear();
    owned_.clear();
    for (auto& allocation : allocations_) std::free(allocation.first);
    allocations_.clear();
    allocationLimit_.reset();
    allocationIndex_ = 0;
    logMemory_ = false;
    loadCount_ = 0;
    poisonTouches_ = 0;
    speakerConfig = DSSPEAKER_STEREO;
    lockLength.reset();
    playCursor = 0;
    writeCursor = 0;
    volume = 0;
}

void Platform::Script(const std::string& call, std::vector<HRESULT> results) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto& queue = scripted_[call];
    queue.insert(queue.end(), results.begin(), results.end());
}

void Platform::FailAlways(const std::string& call, HRESULT result) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    failAlways_[call] = result;
}

void Platform::NullOutput(const std::string& call) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++nullOutputs_[call];
}

void Platform::FailAllocation(int index) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    failingAllocations_.push_back(allocationIndex_ + index);
}

void Platform::LimitAllocations(std::size_t bytes) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    allocationLimit_ = bytes;
}

void Platform::ClearScripts() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    scripted_.clear();
    failAlways_.clear();
    nullOutputs_.clear();
    failingAllocations_.clear();
    reportedFormat.reset();
    reportedSize.reset();
}

void Platform::LogMemory(bool on) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    logMemory_ = on;
}

std::vector<std::string> Platform::Calls() const { return CallsSince(0); }

std::vector<std::string> Platform::CallsSince(std::size_t mark) const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> texts;
    for (std::size_t i = mark; i < calls_.size(); ++i) {
        texts.push_back(calls_[i].first + "(" + calls_[i].second + ")");
    }
    return texts;
}

std::size_t Platform::Mark() const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return calls_.size();
}

void Platform::ClearCalls() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    calls_.clear();
}

int Platform::Count(const std::string& call) const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [&](const auto& entry) { return entry.first == call; }));
}

const ObjectRecord* Platform::Object(const std::string& name) const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (auto it = objects_.rbegin(); it != objects_.rend(); ++it) {
        if ((*it)->name == name) return it->get();
    }
    return nullptr;
}

BufferRecord* Platform::Buffer(const std::string& name) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto found = latestBuffer_.find(name);
    return found == latestBuffer_.end() ? nullptr : found->second;
}

std::string Platform::Leaks() const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::ostringstream report;
    for (const auto& object : objects_) {
        if (object->refs != 0) report << object->name << " holds " << object->refs << " refs; ";
        if (object->overReleased) report << object->name << " released past zero; ";
    }
    if (!allocations_.empty()) report << allocations_.size() << " allocations not freed; ";
    if (loadCount_ != 0) report << "library still loaded; ";
    if (poisonTouches_ != 0) report << "a failed call's output was used; ";
    return report.str();
}

bool Platform::LibraryLoaded() const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return loadCount_ != 0;
}

std::size_t Platform::LiveAllocations() const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return allocations_.size();
}

void Platform::Log(const std::string& name, const std::string& args) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    calls_.emplace_back(name, args);
}

HRESULT Platform::Next(const std::string& call) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto always = failAlways_.find(call);
    if (always != failAlways_.end()) return always->second;
    auto& queue = scripted_[call];
    if (queue.empty()) return DS_OK;
    const HRESULT result = queue.front();
    queue.pop_front();
    return result;
}

bool Platform::TakeNullOutput(const std::string& call) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = nullOutputs_.find(call);
    if (found == nullOutputs_.end() || found->second == 0) return false;
    --found->second;
    return true;
}

ObjectRecord& Platform::NewObject(const std::string& name) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    objects_.push_back(std::make_unique<ObjectRecord>());
    objects_.back()->name = name;
    return *objects_.back();
}

BufferRecord& Platform::NewBuffer(const std::string& name) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    buffers_.push_back(std::make_unique<BufferRecord>());
    latestBuffer_[name] = buffers_.back().get();
    return *buffers_.back();
}

void* Platform::FailureOutput() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<IDirectSound*>(Keep(std::make_shared<Poison>()));
}

HMODULE Platform::LoadLibrary() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++loadCount_;
    return reinterpret_cast<HMODULE>(&moduleTag);
}

void Platform::UnloadLibrary() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (loadCount_ > 0) --loadCount_;
}

void* Platform::Allocate(std::size_t bytes) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const int index = allocationIndex_++;
    if (logMemory_) Log("Allocate", std::to_string(bytes));
    const bool scriptedFailure = std::find(failingAllocations_.begin(), failingAllocations_.end(),
                                           index) != failingAllocations_.end();
    if (scriptedFailure || (allocationLimit_ && bytes > *allocationLimit_)) return nullptr;
    void* memory = std::malloc(bytes == 0 ? 1 : bytes);
    if (memory != nullptr) allocations_[memory] = bytes;
    return memory;
}

void Platform::Free(void* memory) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (memory == nullptr) return;
    if (logMemory_) Log("Free", std::to_string(allocations_[memory]));
    allocations_.erase(memory);
    std::free(memory);
}

}  // namespace fake

// The platform entry points, in place of the real loader and allocator.

HMODULE LoadLibraryA(const char* name) {
    fake::Platform& platform = fake::Platform::Get();
    platform.Log("LoadLibraryA", name);
    if (platform.TakeNullOutput("LoadLibraryA")) return nullptr;
    return platform.LoadLibrary();
}

FARPROC GetProcAddress(HMODULE, const char* name) {
    fake::Platform& platform = fake::Platform::Get();
    platform.Log("GetProcAddress", name);
    if (platform.TakeNullOutput("GetProcAddress")) return nullptr;
    return reinterpret_cast<FARPROC>(&fake::FakeDirectSoundCreate);
}

int FreeLibrary(HMODULE) {
    fake::Platform& platform = fake::Platform::Get();
    platform.Log("FreeLibrary");
    platform.UnloadLibrary();
    return 1;
}

void* PlatformAllocate(std::size_t bytes) { return fake::Platform::Get().Allocate(bytes); }

void PlatformFree(void* memory) { fake::Platform::Get().Free(memory); }

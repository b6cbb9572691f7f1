// Shared ground of the tests that run the library over the fake platform:
// every test starts from a clean platform and ends by checking that every
// interface was released exactly once, every table freed and the platform
// library unloaded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "mivo.h"

using Calls = std::vector<std::string>;

inline HWND TestWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000)); }
inline HANDLE TestEvent(int fd) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd)); }

class FakePlatformTest : public ::testing::Test {
protected:
    void SetUp() override { fake().Reset(); }

    void TearDown() override {
        objects_.clear();
        EXPECT_EQ(fake().Leaks(), "");
    }

    static fake::Platform& fake() { return fake::Platform::Get(); }

    // An object on the open fake device, destroyed before the leak check.
    CdsObject& Open() {
        objects_.push_back(std::make_unique<CdsObject>(TestWindow(), nullptr));
        return *objects_.back();
    }

    // An open object with a verified 2-channel 16-bit 48 kHz primary buffer.
    CdsObject& OpenWithPrimary() {
        CdsObject& object = Open();
        EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 1);
        return object;
    }

    // ...and a streaming buffer of `blocks` blocks of 200 bytes, with both
    // events unless told otherwise.
    CdsObject& OpenStreaming(uint32_t blocks = 4, bool events = true) {
        CdsObject& object = OpenWithPrimary();
        EXPECT_EQ(
            object.CreateStreamingBuffer(blocks * 200, 200, events ? TestEvent(7) : nullptr,
                                         events ? TestEvent(8) : nullptr, 2, 16, 16, 48000, 0),
            1);
        fake().ClearCalls();
        return object;
    }

    void Destroy(CdsObject& object) {
        for (auto it = objects_.begin(); it != objects_.end(); ++it) {
            if (it->get() == &object) {
                objects_.erase(it);
                return;
            }
        }
    }

private:
    std::vector<std::unique_ptr<CdsObject>> objects_;
};

// Every operation that needs an open device (and, past the first two, the
// streaming preconditions), each with arguments that would otherwise pass.
struct GuardedOperation {
    const char* name;
    int32_t (*run)(CdsObject&);
};

inline const std::vector<GuardedOperation>& StreamingOperations() {
    static const std::vector<GuardedOperation> operations = {
        {"LockStreamingBuffer",
         [](CdsObject& o) {
             void* data = nullptr;
             uint32_t bytes = 0;
             return o.LockStreamingBuffer(1, &data, &bytes);
         }},
        {"UnlockStreamingBuffer", [](CdsObject& o) { return o.UnlockStreamingBuffer(1); }},
        {"PlayStreamingBuffer", [](CdsObject& o) { return o.PlayStreamingBuffer(); }},
        {"StopStreamingBuffer", [](CdsObject& o) { return o.StopStreamingBuffer(); }},
        {"ResetStreamingBuffer", [](CdsObject& o) { return o.ResetStreamingBuffer(); }},
        {"RestoreStreamingBuffer", [](CdsObject& o) { return o.RestoreStreamingBuffer(); }},
        {"GetStreamingBufferPositions",
         [](CdsObject& o) {
             uint32_t play = 0;
             uint32_t write = 0;
             return o.GetStreamingBufferPositions(&play, &write);
         }},
        {"SetStreamingBufferPosition",
         [](CdsObject& o) { return o.SetStreamingBufferPosition(1); }},
        {"GetStreamingBufferVolume",
         [](CdsObject& o) { return o.GetStreamingBufferVolume(nullptr, nullptr, nullptr); }},
        {"SetStreamingBufferVolume", [](CdsObject& o) { return o.SetStreamingBufferVolume(-100); }},
    };
    return operations;
}

inline std::vector<GuardedOperation> DeviceOperations() {
    std::vector<GuardedOperation> operations = {
        {"SetApplicationMode", [](CdsObject& o) { return o.SetApplicationMode(1); }},
        {"GetNumberOfSystemSpeakerConfig",
         [](CdsObject& o) {
             int32_t count = 0;
             return o.GetNumberOfSystemSpeakerConfig(&count);
         }},
        {"CreatePrimaryBuffer",
         [](CdsObject& o) { return o.CreatePrimaryBuffer(2, 16, 16, 48000, 0); }},
        {"CreateStreamingBuffer",
         [](CdsObject& o) {
             return o.CreateStreamingBuffer(800, 200, TestEvent(7), TestEvent(8), 2, 16, 16, 48000,
                                            0);
         }},
    };
    const auto& streaming = StreamingOperations();
    operations.insert(operations.end(), streaming.begin(), streaming.end());
    return operations;
}

template <typename Record>
bool AllZero(const Record& record) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

template <typename Record>
std::vector<uint8_t> BytesOf(const Record& record) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return {bytes, bytes + sizeof record};
}

// Parameterised cases print as their name.
#define MIVO_PRINT_AS_NAME(Type) \
    inline void PrintTo(const Type& value, std::ostream* out) { *out << value.name; }

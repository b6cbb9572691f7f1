// The device never writes the process environment: a client thread reads it
// while devices are made and dropped on another.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "disk_output.h"
#include "platform/platform.h"

extern "C" HRESULT DirectSoundCreate(const GUID* device, IDirectSound** out, IUnknown* outer);

namespace device_test {
namespace {

std::vector<std::string> EnvironmentNow() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
    return entries;
}

// A client may read its environment on any thread while devices come and go
// on others, so the device must never write it: setting a variable can move
// the whole table under a reader (the race detector sees the old one freed),
// and the table stays moved even when the variable is taken out again.
TEST(Environment, DevicesComeAndGoWhileAnotherThreadReadsIt) {
    DiskFile file(1);  // its settings go in before the reader starts
    char** const table = environ;
    const std::vector<std::string> before = EnvironmentNow();
    std::atomic<bool> done{false};
    std::atomic<bool> changed{false};
    // What the old device set around opening SDL's pulseaudio driver.
    const bool pulseLatencySet = std::getenv("PULSE_LATENCY_MSEC") != nullptr;
    std::thread reader([&done, &changed, count = before.size(), pulseLatencySet] {
        while (!done.load(std::memory_order_relaxed)) {
            size_t entries = 0;
            size_t bytes = 0;
            for (char** entry = environ; *entry != nullptr; ++entry, ++entries) {
                bytes += std::strlen(*entry);
            }
            if (entries != count || bytes == 0) changed = true;
            if ((std::getenv("PULSE_LATENCY_MSEC") != nullptr) != pulseLatencySet) changed = true;
        }
    });
    for (int i = 0; i < 20; ++i) {
        IDirectSound* ds = nullptr;
        const HRESULT created = DirectSoundCreate(nullptr, &ds, nullptr);
        EXPECT_EQ(created, DS_OK) << "device " << i;
        if (created != DS_OK) break;
        EXPECT_EQ(ds->Release(), 0u);
    }
    done = true;
    reader.join();
    EXPECT_FALSE(changed) << "a variable came and went";
    EXPECT_EQ(environ, table) << "the environment's table moved";
    EXPECT_EQ(EnvironmentNow(), before);
}

}  // namespace
}  // namespace device_test

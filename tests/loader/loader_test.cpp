// The real loader: "dsound.dll" is found beside libmivo.so, bound, and let
// go when the last object goes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "mivo.h"

namespace {

const std::string kDouble = std::string(MIVO_LOADER_DIR) + "/libmivo-dsound.so";

HWND Window() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x77)); }

bool DoubleLoaded() {
    void* handle = dlopen(kDouble.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

int LiveDoubleDevices() {
    void* handle = dlopen(kDouble.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return -1;
    const auto* live = static_cast<std::atomic<int>*>(dlsym(handle, "mivo_double_live_devices"));
    const int count = live != nullptr ? live->load() : -1;
    dlclose(handle);
    return count;
}

TEST(LoaderTest, FindsTheSoundLibraryBesideLibmivoAndUnloadsItWithTheLastObject) {
    {
        CdsObject first(Window(), nullptr);
        ASSERT_EQ(first.InitStatus, CdsStatusReady);
        int32_t speakers = 0;
        EXPECT_EQ(first.GetNumberOfSystemSpeakerConfig(&speakers), 1);
        EXPECT_EQ(speakers, 8);
        EXPECT_EQ(first.SetApplicationMode(CdsModeExclusive), 1);

        const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
        CdsObject second(Window(), &other);
        EXPECT_EQ(second.InitStatus, CdsStatusNoDevice);
        EXPECT_TRUE(DoubleLoaded());
        EXPECT_EQ(LiveDoubleDevices(), 1);
    }
    EXPECT_FALSE(DoubleLoaded());
}

TEST(LoaderTest, AMissingSoundLibraryGivesNoLibrary) {
    const std::string parked = kDouble + ".parked";
    ASSERT_EQ(std::rename(kDouble.c_str(), parked.c_str()), 0);
    int32_t status = 0;
    {
        CdsObject object(Window(), nullptr);
        status = object.InitStatus;
    }
    ASSERT_EQ(std::rename(parked.c_str(), kDouble.c_str()), 0);
    EXPECT_EQ(status, CdsStatusNoLibrary);
}

}  // namespace

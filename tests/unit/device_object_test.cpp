#include <thread>

#include "fake_platform_test.h"

namespace {

struct Construction {
    const char* name;
    bool window;
    const char* nullOutput;  // the call that hands back null, or ""
    HRESULT createResult;
    int32_t status;
    Calls calls;
};

MIVO_PRINT_AS_NAME(Construction)

class ConstructionTest : public FakePlatformTest,
                         public ::testing::WithParamInterface<Construction> {};

TEST_P(ConstructionTest, ReachesItsOutcomeWithExactlyTheseCalls) {
    const Construction& c = GetParam();
    if (*c.nullOutput != '\0') fake().NullOutput(c.nullOutput);
    fake().Script("DirectSoundCreate", {c.createResult});

    auto object = std::make_unique<CdsObject>(c.window ? TestWindow() : nullptr, nullptr);
    EXPECT_EQ(object->InitStatus, c.status);
    EXPECT_EQ(object->InitializationSuccessful(), c.status == CdsStatusReady ? 1 : 0);
    EXPECT_EQ(fake().Calls(), c.calls);
    EXPECT_EQ(object->ApplicationMode, -1);
    if (c.status != CdsStatusReady) {
        EXPECT_EQ(object->DirectSound, nullptr);
        EXPECT_EQ(object->Window, nullptr);
        EXPECT_EQ(object->DeviceGuid, nullptr);
        // A failed object answers 0 to everything, without a platform call.
        const std::size_t mark = fake().Mark();
        for (const auto& operation : DeviceOperations()) {
            EXPECT_EQ(operation.run(*object), 0) << operation.name;
        }
        EXPECT_EQ(fake().CallsSince(mark), Calls{});
    } else {
        EXPECT_NE(object->DirectSound, nullptr);
        EXPECT_EQ(object->Window, TestWindow());
    }

    // Whatever happened, destruction leaves nothing loaded or held.
    object.reset();
    EXPECT_FALSE(fake().LibraryLoaded());
}

const Calls kLoadAndLookUp = {"LoadLibraryA(dsound.dll)", "GetProcAddress(DirectSoundCreate)"};
const Calls kFullOpen = {"LoadLibraryA(dsound.dll)", "GetProcAddress(DirectSoundCreate)",
                         "DirectSoundCreate(null,null)"};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ConstructionTest,
    ::testing::Values(Construction{"Ready", true, "", DS_OK, CdsStatusReady, kFullOpen},
                      Construction{"NullWindow", false, "", DS_OK, CdsStatusNoWindow, {}},
                      Construction{"NoLibrary",
                                   true,
                                   "LoadLibraryA",
                                   DS_OK,
                                   CdsStatusNoLibrary,
                                   {"LoadLibraryA(dsound.dll)"}},
                      Construction{"NoEntryPoint", true, "GetProcAddress", DS_OK,
                                   CdsStatusNoEntryPoint, kLoadAndLookUp},
                      Construction{"DeviceFails", true, "", DSERR_NODRIVER, CdsStatusNoDevice,
                                   kFullOpen},
                      Construction{"DeviceAnswersPositive", true, "", DS_NO_VIRTUALIZATION,
                                   CdsStatusNoDevice, kFullOpen},
                      Construction{"DeviceIsNull", true, "DirectSoundCreate", DS_OK,
                                   CdsStatusNoDevice, kFullOpen}),
    [](const auto& row) { return std::string(row.param.name); });

using DeviceObjectTest = FakePlatformTest;

TEST_F(DeviceObjectTest, PassesTheDeviceGuidPointerThrough) {
    const GUID device = {0xABCD1234, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    CdsObject object(TestWindow(), &device);
    EXPECT_EQ(object.DeviceGuid, &device);
    EXPECT_EQ(fake().Calls().back(), "DirectSoundCreate(0xABCD1234,null)");
}

TEST_F(DeviceObjectTest, SharesOneLoadAndUnloadsWithTheLastLiveObject) {
    auto first = std::make_unique<CdsObject>(TestWindow(), nullptr);
    auto unopened = std::make_unique<CdsObject>(nullptr, nullptr);
    fake().ClearCalls();

    auto second = std::make_unique<CdsObject>(TestWindow(), nullptr);
    EXPECT_EQ(fake().Calls(),
              (Calls{"GetProcAddress(DirectSoundCreate)", "DirectSoundCreate(null,null)"}));

    unopened.reset();
    first.reset();
    EXPECT_TRUE(fake().LibraryLoaded());
    EXPECT_EQ(fake().Count("FreeLibrary"), 0);

    second.reset();
    EXPECT_EQ(fake().Count("FreeLibrary"), 1);
    EXPECT_FALSE(fake().LibraryLoaded());
}

TEST_F(DeviceObjectTest, DestructionReleasesPrimaryThenStreamingThenDeviceThenLibrary) {
    CdsObject& object = OpenStreaming();
    fake().LogMemory(true);
    Destroy(object);
    EXPECT_EQ(fake().Calls(),
              (Calls{"primary.Release()", "Free(96)", "notify.Release()", "Free(80)",
                     "streaming.Release()", "device.Release()", "FreeLibrary()"}));
}

TEST_F(DeviceObjectTest, AssignmentTakesNothingAndReleasesNothingTwice) {
    CdsObject& target = OpenStreaming();
    CdsObject& source = OpenStreaming(2, false);
    IDirectSound* const device = target.DirectSound;
    IDirectSoundBuffer* const streaming = target.StreamingBuffer;
    CdsBlock* const blocks = target.Blocks;
    fake().ClearCalls();

    target = source;
    target = target;  // NOLINT(clang-diagnostic-self-assign-overloaded): the case under test

    EXPECT_EQ(fake().Calls(), Calls{});
    EXPECT_EQ(target.DirectSound, device);
    EXPECT_EQ(target.StreamingBuffer, streaming);
    EXPECT_EQ(target.Blocks, blocks);
    EXPECT_EQ(target.BlockCount, 4u);
    EXPECT_EQ(target.StreamingDesc.lpwfxFormat, &target.StreamingFormat);
    EXPECT_EQ(target.UnlockStreamingBuffer(1), 0);
    // The leak check of TearDown counts one release per interface.
}

TEST_F(DeviceObjectTest, ObjectsMadeAndDestroyedOnEightThreadsShareTheBindingSafely) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 40;
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int round = 0; round < kRounds; ++round) {
                CdsObject object((t + round) % 5 == 0 ? nullptr : TestWindow(), nullptr);
                if (object.InitializationSuccessful() == 1 && round % 2 == 0) {
                    object.CreatePrimaryBuffer(2, 16, 16, 48000, 0);
                    object.CreateStreamingBuffer(800, 200, TestEvent(7), TestEvent(8), 2, 16, 16,
                                                 48000, 0);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(fake().LibraryLoaded());
    EXPECT_EQ(fake().Count("FreeLibrary"), fake().Count("LoadLibraryA"));
}

}  // namespace

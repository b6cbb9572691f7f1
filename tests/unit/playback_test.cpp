#include "fake_platform_test.h"

namespace {

using PlaybackTest = FakePlatformTest;

struct SingleCall {
    const char* name;
    int32_t (*run)(CdsObject&);
    const char* call;  // the one platform call, or "" for a refusal
};

const SingleCall kSingleCalls[] = {
    {"Play", [](CdsObject& o) { return o.PlayStreamingBuffer(); }, "streaming.Play(0,0,1)"},
    {"Stop", [](CdsObject& o) { return o.StopStreamingBuffer(); }, "streaming.Stop()"},
    {"Reset", [](CdsObject& o) { return o.ResetStreamingBuffer(); },
     "streaming.SetCurrentPosition(0)"},
    {"Restore", [](CdsObject& o) { return o.RestoreStreamingBuffer(); }, "streaming.Restore()"},
    {"Position 1", [](CdsObject& o) { return o.SetStreamingBufferPosition(1); },
     "streaming.SetCurrentPosition(0)"},
    {"Position 4", [](CdsObject& o) { return o.SetStreamingBufferPosition(4); },
     "streaming.SetCurrentPosition(600)"},
    {"Position 0", [](CdsObject& o) { return o.SetStreamingBufferPosition(0); }, ""},
    {"Position 5", [](CdsObject& o) { return o.SetStreamingBufferPosition(5); }, ""},
    {"Volume 0", [](CdsObject& o) { return o.SetStreamingBufferVolume(0); },
     "streaming.SetVolume(0)"},
    {"Volume -10000", [](CdsObject& o) { return o.SetStreamingBufferVolume(-10000); },
     "streaming.SetVolume(-10000)"},
    {"Volume 1", [](CdsObject& o) { return o.SetStreamingBufferVolume(1); }, ""},
    {"Volume -10001", [](CdsObject& o) { return o.SetStreamingBufferVolume(-10001); }, ""},
    {"Cursors", [](CdsObject& o) { return o.GetStreamingBufferPositions(nullptr, nullptr); },
     "streaming.GetCurrentPosition(null,null)"},
    {"Volume read",
     [](CdsObject& o) { return o.GetStreamingBufferVolume(nullptr, nullptr, nullptr); },
     "streaming.GetVolume()"},
};

TEST_F(PlaybackTest, EachOperationMakesItsOneCallOrRefusesWithoutOne) {
    CdsObject& object = OpenStreaming();
    for (const SingleCall& row : kSingleCalls) {
        fake().ClearCalls();
        const bool refused = *row.call == '\0';
        EXPECT_EQ(row.run(object), refused ? 0 : 1) << row.name;
        EXPECT_EQ(fake().Calls(), refused ? Calls{} : Calls{row.call}) << row.name;
    }
}

TEST_F(PlaybackTest, AnyNonZeroAnswerFailsTheOperation) {
    CdsObject& object = OpenStreaming();
    for (const SingleCall& row : kSingleCalls) {
        if (*row.call == '\0') continue;
        const std::string call(row.call, std::string(row.call).find('('));
        for (const HRESULT failure : {E_FAIL, HRESULT{1}}) {
            fake().FailAlways(call, failure);
            EXPECT_EQ(row.run(object), 0) << row.name << " " << failure;
        }
        fake().FailAlways(call, DS_OK);
    }
}

TEST_F(PlaybackTest, PlayIsRetriedOnceAfterRestore) {
    CdsObject& object = OpenStreaming();
    fake().Script("streaming.Play", {DSERR_BUFFERLOST});
    fake().Script("streaming.Restore", {DSERR_BUFFERLOST});
    EXPECT_EQ(object.PlayStreamingBuffer(), 1);
    const Calls retried = {"streaming.Play(0,0,1)", "streaming.Restore()", "streaming.Play(0,0,1)"};
    EXPECT_EQ(fake().Calls(), retried);

    fake().ClearCalls();
    fake().FailAlways("streaming.Play", E_FAIL);
    EXPECT_EQ(object.PlayStreamingBuffer(), 0);
    EXPECT_EQ(fake().Calls(), retried);
}

TEST_F(PlaybackTest, CursorsPassThroughWhicheverPointersAreGiven) {
    CdsObject& object = OpenStreaming();
    fake().playCursor = 404;
    fake().writeCursor = 604;
    uint32_t play = 1;
    uint32_t write = 2;
    EXPECT_EQ(object.GetStreamingBufferPositions(&play, &write), 1);
    EXPECT_EQ(play, 404u);
    EXPECT_EQ(write, 604u);
    play = write = 9;
    EXPECT_EQ(object.GetStreamingBufferPositions(&play, nullptr), 1);
    EXPECT_EQ(object.GetStreamingBufferPositions(nullptr, &write), 1);
    EXPECT_EQ(play, 404u);
    EXPECT_EQ(write, 604u);
    EXPECT_EQ(fake().Calls(), (Calls{"streaming.GetCurrentPosition(ptr,ptr)",
                                     "streaming.GetCurrentPosition(ptr,null)",
                                     "streaming.GetCurrentPosition(null,ptr)"}));
    fake().Script("streaming.GetCurrentPosition", {E_FAIL});
    play = 9;
    EXPECT_EQ(object.GetStreamingBufferPositions(&play, nullptr), 0);
    EXPECT_EQ(play, 9u);
}

TEST_F(PlaybackTest, VolumeReadFillsEachGivenPointer) {
    CdsObject& object = OpenStreaming();
    ASSERT_EQ(object.SetStreamingBufferVolume(-600), 1);
    int32_t volume = 1;
    int32_t maximum = 1;
    int32_t minimum = 1;
    EXPECT_EQ(object.GetStreamingBufferVolume(&volume, &maximum, &minimum), 1);
    EXPECT_EQ(volume, -600);
    EXPECT_EQ(maximum, 0);
    EXPECT_EQ(minimum, -10000);
    volume = 1;
    EXPECT_EQ(object.GetStreamingBufferVolume(nullptr, nullptr, &minimum), 1);
    EXPECT_EQ(volume, 1);
    fake().Script("streaming.GetVolume", {DSERR_CONTROLUNAVAIL});
    minimum = 5;
    EXPECT_EQ(object.GetStreamingBufferVolume(&volume, &maximum, &minimum), 0);
    EXPECT_EQ(minimum, 5);
}

TEST_F(PlaybackTest, AWholeStreamingCycleMakesExactlyThesePlatformCalls) {
    {
        CdsObject object(TestWindow(), nullptr);
        ASSERT_EQ(object.SetApplicationMode(CdsModePriority), 1);
        ASSERT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 1);
        ASSERT_EQ(
            object.CreateStreamingBuffer(800, 200, TestEvent(7), TestEvent(8), 2, 16, 16, 48000, 0),
            1);
        for (uint32_t block = 1; block <= 4; ++block) {
            void* data = nullptr;
            uint32_t bytes = 0;
            ASSERT_EQ(object.LockStreamingBuffer(block, &data, &bytes), 1);
            auto* samples = static_cast<unsigned char*>(data);
            for (uint32_t i = 0; i < bytes; ++i) samples[i] = static_cast<unsigned char>(block + i);
            ASSERT_EQ(object.UnlockStreamingBuffer(block), 1);
        }
        ASSERT_EQ(object.PlayStreamingBuffer(), 1);
        uint32_t play = 0;
        uint32_t write = 0;
        ASSERT_EQ(object.GetStreamingBufferPositions(&play, &write), 1);
        ASSERT_EQ(object.SetStreamingBufferVolume(-600), 1);
        ASSERT_EQ(object.StopStreamingBuffer(), 1);
        object.RemoveStreamingBuffer();
        object.RemovePrimaryBuffer();
    }
    EXPECT_EQ(fake().Calls(),
              (Calls{"LoadLibraryA(dsound.dll)",
                     "GetProcAddress(DirectSoundCreate)",
                     "DirectSoundCreate(null,null)",
                     "device.SetCooperativeLevel(ptr,2)",
                     "device.Compact()",
                     "device.CreateSoundBuffer(primary,flags=0x1,bytes=0,outer=null)",
                     "primary.SetFormat(0x1)",
                     "primary.GetFormat(null,0)",
                     "primary.GetFormat(ptr,18)",
                     "device.CreateSoundBuffer(streaming,flags=0x18180,bytes=800,outer=null)",
                     "streaming.QueryInterface(IDirectSoundNotify)",
                     "notify.SetNotificationPositions(5)",
                     "streaming.Lock(0,200,null,null,0)",
                     "streaming.Unlock(0,200,null,0)",
                     "streaming.Lock(200,200,null,null,0)",
                     "streaming.Unlock(200,200,null,0)",
                     "streaming.Lock(400,200,null,null,0)",
                     "streaming.Unlock(400,200,null,0)",
                     "streaming.Lock(600,200,null,null,0)",
                     "streaming.Unlock(600,200,null,0)",
                     "streaming.Play(0,0,1)",
                     "streaming.GetCurrentPosition(ptr,ptr)",
                     "streaming.SetVolume(-600)",
                     "streaming.Stop()",
                     "notify.Release()",
                     "streaming.Release()",
                     "primary.Release()",
                     "device.Release()",
                     "FreeLibrary()"}));
}

}  // namespace

#include "fake_platform_test.h"

namespace {

using BlockLockTest = FakePlatformTest;

TEST_F(BlockLockTest, LocksEachBlockAtItsOffsetAndUnlocksWhatWasGranted) {
    CdsObject& object = OpenStreaming();
    fake().lockLength = 120;  // the platform may grant less than asked
    for (uint32_t block = 1; block <= 4; ++block) {
        void* data = nullptr;
        uint32_t bytes = 0;
        ASSERT_EQ(object.LockStreamingBuffer(block, &data, &bytes), 1);
        EXPECT_NE(data, nullptr);
        EXPECT_EQ(bytes, 120u);
        const CdsBlock& entry = object.Blocks[block - 1];
        EXPECT_EQ(entry.Locked, 1);
        EXPECT_EQ(entry.LockedPtr, data);
        EXPECT_EQ(entry.LockedBytes, 120u);
    }
    for (uint32_t block = 4; block >= 1; --block) {
        EXPECT_EQ(object.UnlockStreamingBuffer(block), 1);
        EXPECT_EQ(object.Blocks[block - 1].Locked, 0);
        EXPECT_EQ(object.Blocks[block - 1].LockedPtr, nullptr);
        EXPECT_EQ(object.Blocks[block - 1].LockedBytes, 0u);
    }
    EXPECT_EQ(fake().Calls(),
              (Calls{"streaming.Lock(0,200,null,null,0)", "streaming.Lock(200,200,null,null,0)",
                     "streaming.Lock(400,200,null,null,0)", "streaming.Lock(600,200,null,null,0)",
                     "streaming.Unlock(600,120,null,0)", "streaming.Unlock(400,120,null,0)",
                     "streaming.Unlock(200,120,null,0)", "streaming.Unlock(0,120,null,0)"}));
}

TEST_F(BlockLockTest, RefusalsWriteNothingAndMakeNoCall) {
    CdsObject& object = OpenStreaming();
    void* held = nullptr;
    uint32_t heldBytes = 0;
    ASSERT_EQ(object.LockStreamingBuffer(2, &held, &heldBytes), 1);
    fake().ClearCalls();

    void* const untouched = &object;
    struct Row {
        const char* name;
        uint32_t block;
        bool nullData, nullBytes;
    };
    const Row rows[] = {
        {"block 0", 0, false, false},        {"past the last block", 5, false, false},
        {"null data", 1, true, false},       {"null length", 1, false, true},
        {"already locked", 2, false, false},
    };
    for (const Row& row : rows) {
        void* data = untouched;
        uint32_t bytes = 77;
        EXPECT_EQ(object.LockStreamingBuffer(row.block, row.nullData ? nullptr : &data,
                                             row.nullBytes ? nullptr : &bytes),
                  0)
            << row.name;
        EXPECT_EQ(data, untouched) << row.name;
        EXPECT_EQ(bytes, 77u) << row.name;
    }
    for (const uint32_t block : {0u, 5u, 1u, 3u}) {
        EXPECT_EQ(object.UnlockStreamingBuffer(block), 0) << block;
    }
    EXPECT_EQ(fake().Calls(), Calls{});
    EXPECT_EQ(object.Blocks[1].LockedPtr, held);
}

TEST_F(BlockLockTest, AFailedLockIsRetriedOnceAfterRestore) {
    CdsObject& object = OpenStreaming();
    // The restore's own answer does not matter; the retry decides.
    fake().Script("streaming.Lock", {DSERR_BUFFERLOST});
    fake().Script("streaming.Restore", {E_FAIL});
    void* data = nullptr;
    uint32_t bytes = 0;
    EXPECT_EQ(object.LockStreamingBuffer(3, &data, &bytes), 1);
    EXPECT_EQ(object.Blocks[2].Locked, 1);
    EXPECT_EQ(bytes, 200u);
    EXPECT_EQ(fake().Calls(), (Calls{"streaming.Lock(400,200,null,null,0)", "streaming.Restore()",
                                     "streaming.Lock(400,200,null,null,0)"}));
}

TEST_F(BlockLockTest, ALockFailingTwiceGivesNullAndZeroAndNoThirdTry) {
    CdsObject& object = OpenStreaming();
    fake().FailAlways("streaming.Lock", HRESULT{1});
    void* data = &object;
    uint32_t bytes = 77;
    EXPECT_EQ(object.LockStreamingBuffer(1, &data, &bytes), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(object.Blocks[0].Locked, 0);
    EXPECT_EQ(fake().Count("streaming.Lock"), 2);
    EXPECT_EQ(fake().Count("streaming.Restore"), 1);
}

TEST_F(BlockLockTest, AFailedUnlockKeepsTheBlockLockedForAnotherTry) {
    CdsObject& object = OpenStreaming();
    void* data = nullptr;
    uint32_t bytes = 0;
    ASSERT_EQ(object.LockStreamingBuffer(1, &data, &bytes), 1);
    fake().Script("streaming.Unlock", {DSERR_INVALIDPARAM});
    EXPECT_EQ(object.UnlockStreamingBuffer(1), 0);
    EXPECT_EQ(object.Blocks[0].Locked, 1);
    EXPECT_EQ(object.Blocks[0].LockedPtr, data);
    EXPECT_EQ(fake().Count("streaming.Restore"), 0);
    EXPECT_EQ(object.UnlockStreamingBuffer(1), 1);
    EXPECT_EQ(object.Blocks[0].Locked, 0);
}

}  // namespace

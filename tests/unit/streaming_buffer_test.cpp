#include "fake_platform_test.h"

namespace {

using StreamingBufferTest = FakePlatformTest;

void ExpectNoStreamingBuffer(const CdsObject& object) {
    EXPECT_EQ(object.StreamingBufferCreated, 0);
    EXPECT_EQ(object.StreamingBuffer, nullptr);
    EXPECT_EQ(object.StreamingNotify, nullptr);
    EXPECT_EQ(object.NotifyPositions, nullptr);
    EXPECT_EQ(object.Blocks, nullptr);
    EXPECT_TRUE(AllZero(object.StreamingDesc));
    EXPECT_TRUE(AllZero(object.StreamingFormat));
    EXPECT_TRUE(AllZero(object.StreamingFormatExtensible));
    EXPECT_EQ(object.BlockEvent, nullptr);
    EXPECT_EQ(object.StopEvent, nullptr);
    EXPECT_EQ(object.BlockCount + object.BlockBytes + object.StreamingBufferBytes, 0u);
}

int32_t CreateStereo(CdsObject& object, uint32_t bufferBytes, uint32_t blockBytes,
                     HANDLE blockEvent = TestEvent(7), HANDLE stopEvent = TestEvent(8)) {
    return object.CreateStreamingBuffer(bufferBytes, blockBytes, blockEvent, stopEvent, 2, 16, 16,
                                        48000, 0);
}

TEST_F(StreamingBufferTest, EightHundredBytesInBlocksOfTwoHundredWithBothEvents) {
    CdsObject& object = OpenWithPrimary();
    fake().ClearCalls();
    fake().LogMemory(true);
    ASSERT_EQ(CreateStereo(object, 800, 200), 1);

    EXPECT_EQ(fake().Calls(),
              (Calls{"device.CreateSoundBuffer(streaming,flags=0x18180,bytes=800,outer=null)",
                     "Allocate(80)", "streaming.QueryInterface(IDirectSoundNotify)", "Allocate(96)",
                     "notify.SetNotificationPositions(5)"}));
    const fake::BufferRecord& buffer = *fake().Buffer("streaming");
    EXPECT_EQ(buffer.desc.dwSize, sizeof(DSBUFFERDESC));
    EXPECT_EQ(object.StreamingDesc.lpwfxFormat, &object.StreamingFormat);
    EXPECT_EQ(buffer.descFormat, BytesOf(object.StreamingFormat));

    ASSERT_EQ(buffer.notifyPositions.size(), 5u);
    const DWORD ends[] = {199, 399, 599, 799, DSBPN_OFFSETSTOP};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(buffer.notifyPositions[i].dwOffset, ends[i]);
        EXPECT_EQ(buffer.notifyPositions[i].hEventNotify, TestEvent(i < 4 ? 7 : 8));
    }
    EXPECT_EQ(object.BlockCount, 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(object.Blocks[i].Offset, i * 200);
        EXPECT_EQ(object.Blocks[i].Locked, 0);
        EXPECT_EQ(object.Blocks[i].LockedPtr, nullptr);
    }
    EXPECT_EQ(object.StreamingBufferCreated, 1);
}

TEST_F(StreamingBufferTest, SizeRulesDecideBeforeAnyPlatformCall) {
    struct Row {
        uint32_t bufferBytes, blockBytes;
        uint16_t bits, validBits;
        int32_t result;
    };
    const Row rows[] = {
        {4, 4, 16, 16, 1},
        {0x0FFFFFFF, 0x0FFFFFFF, 16, 16, 1},
        {1000, 8, 16, 16, 1},
        {3, 1, 16, 16, 0},
        {0x10000000, 0x10000000, 16, 16, 0},
        {900, 200, 16, 16, 0},
        {900, 950, 16, 16, 0},
        {800, 0, 16, 16, 0},
        {0, 0, 16, 16, 0},
        {800, 200, 16, 24, 0},
        {800, 200, 24, 24, 1},
    };
    CdsObject& object = OpenWithPrimary();
    for (const Row& row : rows) {
        fake().ClearCalls();
        EXPECT_EQ(object.CreateStreamingBuffer(row.bufferBytes, row.blockBytes, TestEvent(7),
                                               TestEvent(8), 2, row.bits, row.validBits, 48000, 0),
                  row.result)
            << row.bufferBytes << "/" << row.blockBytes;
        if (row.result == 0) {
            EXPECT_EQ(fake().Calls(), Calls{});
            ExpectNoStreamingBuffer(object);
        } else {
            EXPECT_EQ(object.BlockCount, row.bufferBytes / row.blockBytes);
            EXPECT_EQ(fake().Buffer("streaming")->notifyPositions.front().dwOffset,
                      row.blockBytes - 1);
            object.RemoveStreamingBuffer();
        }
    }
}

TEST_F(StreamingBufferTest, OneEventAloneSetsUpNoNotificationsButUsableBlocks) {
    CdsObject& object = OpenWithPrimary();
    for (const auto& [blockEvent, stopEvent] :
         {std::pair{TestEvent(7), HANDLE{}}, std::pair{HANDLE{}, TestEvent(8)}}) {
        fake().ClearCalls();
        ASSERT_EQ(CreateStereo(object, 800, 200, blockEvent, stopEvent), 1);
        EXPECT_EQ(fake().Calls(),
                  Calls{"device.CreateSoundBuffer(streaming,flags=0x18080,bytes=800,outer=null)"});
        EXPECT_EQ(object.StreamingNotify, nullptr);
        EXPECT_EQ(object.NotifyPositions, nullptr);
        EXPECT_EQ(object.BlockEvent, blockEvent);
        EXPECT_EQ(object.StopEvent, stopEvent);
        void* data = nullptr;
        uint32_t bytes = 0;
        EXPECT_EQ(object.LockStreamingBuffer(4, &data, &bytes), 1);
        EXPECT_EQ(object.UnlockStreamingBuffer(4), 1);
        object.RemoveStreamingBuffer();
    }
}

TEST_F(StreamingBufferTest, MoreThanTwoChannelsDescribeTheExtensibleRecord) {
    CdsObject& object = OpenWithPrimary();
    ASSERT_EQ(object.CreateStreamingBuffer(1200, 600, nullptr, nullptr, 6, 24, 20, 48000, 0), 1);
    EXPECT_EQ(object.StreamingDesc.lpwfxFormat, &object.StreamingFormatExtensible.Format);
    EXPECT_EQ(fake().Buffer("streaming")->descFormat, BytesOf(object.StreamingFormatExtensible));
}

TEST_F(StreamingBufferTest, ASecondCreationIsRefusedAndTheFirstStays) {
    CdsObject& object = OpenStreaming();
    IDirectSoundBuffer* const first = object.StreamingBuffer;
    CdsBlock* const blocks = object.Blocks;
    EXPECT_EQ(CreateStereo(object, 400, 100), 0);
    EXPECT_EQ(fake().Calls(), Calls{});
    EXPECT_EQ(object.StreamingBuffer, first);
    EXPECT_EQ(object.Blocks, blocks);
    EXPECT_EQ(object.BlockCount, 4u);
}

TEST_F(StreamingBufferTest, NoVerifiedPrimaryBufferRefusesBeforeLookingAtArguments) {
    CdsObject& object = Open();
    EXPECT_EQ(CreateStereo(object, 800, 200), 0);
    EXPECT_EQ(CreateStereo(object, 3, 0), 0);
    fake().Script("primary.SetFormat", {E_FAIL});
    EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 0);
    fake().ClearCalls();
    EXPECT_EQ(CreateStereo(object, 800, 200), 0);
    EXPECT_EQ(fake().Calls(), Calls{});
    ExpectNoStreamingBuffer(object);
}

TEST_F(StreamingBufferTest, EveryFailureFromCreationOnLeavesTheObjectAsRemovalLeavesIt) {
    struct Row {
        const char* name;
        void (*inject)(fake::Platform&);
        const char* lastCall;  // the last call before the clean-up
        Calls tail;            // the clean-up, in the removal's order
    };
    // Tails of the removal's order: blocks, notify interface, positions,
    // buffer.
    const Calls releaseBuffer = {"streaming.Release()"};
    const Calls freePositions = {"Free(80)", "streaming.Release()"};
    const Calls releaseNotify = {"notify.Release()", "Free(80)", "streaming.Release()"};
    const char* const create = "device.CreateSoundBuffer";
    const char* const query = "streaming.QueryInterface";
    const Row rows[] = {
        {"create fails",
         [](fake::Platform& f) { f.Script("device.CreateSoundBuffer", {E_FAIL}); },
         create,
         {}},
        // Success codes other than DS_OK fail the step but hand over an
        // object all the same.
        {"create answers S_FALSE",
         [](fake::Platform& f) { f.Script("device.CreateSoundBuffer", {HRESULT{1}}); }, create,
         releaseBuffer},
        {"create answers no virtualization",
         [](fake::Platform& f) { f.Script("device.CreateSoundBuffer", {DS_NO_VIRTUALIZATION}); },
         create, releaseBuffer},
        {"create answers S_FALSE and null",
         [](fake::Platform& f) {
             f.Script("device.CreateSoundBuffer", {HRESULT{1}});
             f.NullOutput("device.CreateSoundBuffer");
         },
         create,
         {}},
        {"create null",
         [](fake::Platform& f) { f.NullOutput("device.CreateSoundBuffer"); },
         create,
         {}},
        {"positions memory", [](fake::Platform& f) { f.FailAllocation(0); }, "Allocate",
         releaseBuffer},
        {"notify fails",
         [](fake::Platform& f) { f.Script("streaming.QueryInterface", {E_NOINTERFACE}); }, query,
         freePositions},
        {"notify answers S_FALSE",
         [](fake::Platform& f) { f.Script("streaming.QueryInterface", {HRESULT{1}}); }, query,
         releaseNotify},
        {"notify answers S_FALSE and null",
         [](fake::Platform& f) {
             f.Script("streaming.QueryInterface", {HRESULT{1}});
             f.NullOutput("streaming.QueryInterface");
         },
         query, freePositions},
        {"notify null", [](fake::Platform& f) { f.NullOutput("streaming.QueryInterface"); }, query,
         freePositions},
        {"block memory", [](fake::Platform& f) { f.FailAllocation(1); }, "Allocate", releaseNotify},
        {"positions refused",
         [](fake::Platform& f) {
             f.Script("notify.SetNotificationPositions", {DSERR_INVALIDPARAM});
         },
         "notify.SetNotificationPositions",
         {"Free(96)", "notify.Release()", "Free(80)", "streaming.Release()"}},
    };
    CdsObject& object = OpenWithPrimary();
    fake().LogMemory(true);
    for (const Row& row : rows) {
        row.inject(fake());
        const std::size_t mark = fake().Mark();
        EXPECT_EQ(CreateStereo(object, 800, 200), 0) << row.name;
        ExpectNoStreamingBuffer(object);
        const Calls calls = fake().CallsSince(mark);
        ASSERT_GT(calls.size(), row.tail.size()) << row.name;
        const auto cleanUp = calls.end() - static_cast<long>(row.tail.size());
        EXPECT_EQ(Calls(cleanUp, calls.end()), row.tail) << row.name;
        const std::string& last = *(cleanUp - 1);
        EXPECT_EQ(last.substr(0, last.find('(')), row.lastCall) << row.name;
        // Only the device and the primary buffer are held: nothing leaked,
        // nothing released twice, no error code's output used.
        EXPECT_EQ(fake().Leaks(),
                  "device holds 1 refs; primary holds 1 refs; library still loaded; ")
            << row.name;
    }
}

TEST_F(StreamingBufferTest, TablesTooLargeForMemoryFailCleanly) {
    CdsObject& object = OpenWithPrimary();
    fake().LimitAllocations(std::size_t{1} << 20);
    fake().LogMemory(true);
    fake().ClearCalls();
    // 1-byte blocks: 0x0FFFFFFF blocks and one more notification entry.
    EXPECT_EQ(CreateStereo(object, 0x0FFFFFFF, 1), 0);
    EXPECT_EQ(fake().Calls()[1],
              "Allocate(" + std::to_string(uint64_t{0x10000000} * sizeof(DSBPOSITIONNOTIFY)) + ")");
    ExpectNoStreamingBuffer(object);

    EXPECT_EQ(CreateStereo(object, 0x0FFFFFFF, 1, nullptr, nullptr), 0);
    ExpectNoStreamingBuffer(object);
    EXPECT_EQ(fake().LiveAllocations(), 0u);
}

TEST_F(StreamingBufferTest, RemovalReleasesInOrderAndAgainMakesNoCall) {
    CdsObject& object = OpenStreaming();
    void* data = nullptr;
    uint32_t bytes = 0;
    ASSERT_EQ(object.LockStreamingBuffer(2, &data, &bytes), 1);
    fake().LogMemory(true);
    fake().ClearCalls();

    object.RemoveStreamingBuffer();
    EXPECT_EQ(fake().Calls(),
              (Calls{"Free(96)", "notify.Release()", "Free(80)", "streaming.Release()"}));
    ExpectNoStreamingBuffer(object);
    fake().ClearCalls();
    object.RemoveStreamingBuffer();
    EXPECT_EQ(fake().Calls(), Calls{});

    // A new buffer starts with every block unlocked.
    ASSERT_EQ(CreateStereo(object, 800, 200), 1);
    EXPECT_EQ(object.Blocks[1].Locked, 0);
}

TEST_F(StreamingBufferTest, StreamingOperationsNeedAVerifiedPrimaryAndABuffer) {
    CdsObject& noBuffer = OpenWithPrimary();
    CdsObject& noPrimary = OpenStreaming();
    noPrimary.RemovePrimaryBuffer();
    EXPECT_NE(noPrimary.StreamingBuffer, nullptr);
    fake().ClearCalls();
    for (const auto& operation : StreamingOperations()) {
        EXPECT_EQ(operation.run(noBuffer), 0) << operation.name;
        EXPECT_EQ(operation.run(noPrimary), 0) << operation.name;
    }
    EXPECT_EQ(fake().Calls(), Calls{});
    // Removal still works without a primary buffer.
    noPrimary.RemoveStreamingBuffer();
    ExpectNoStreamingBuffer(noPrimary);
}

}  // namespace

#include <cstring>

#include "fake_platform_test.h"

namespace {

using PrimaryBufferTest = FakePlatformTest;

void ExpectNoPrimaryBuffer(const CdsObject& object) {
    EXPECT_EQ(object.PrimaryBuffer, nullptr);
    EXPECT_EQ(object.PrimaryBufferCreated, 0);
    EXPECT_TRUE(AllZero(object.PrimaryDesc));
    EXPECT_TRUE(AllZero(object.PrimaryFormat));
    EXPECT_TRUE(AllZero(object.PrimaryFormatExtensible));
}

TEST_F(PrimaryBufferTest, StereoSetsThePlainRecordAndVerifiesIt) {
    CdsObject& object = Open();
    fake().ClearCalls();
    ASSERT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 1);

    EXPECT_EQ(fake().Calls(),
              (Calls{"device.CreateSoundBuffer(primary,flags=0x1,bytes=0,outer=null)",
                     "primary.SetFormat(0x1)", "primary.GetFormat(null,0)",
                     "primary.GetFormat(ptr,18)"}));
    const fake::BufferRecord& buffer = *fake().Buffer("primary");
    EXPECT_EQ(buffer.desc.dwSize, sizeof(DSBUFFERDESC));
    EXPECT_EQ(buffer.desc.lpwfxFormat, nullptr);
    EXPECT_EQ(buffer.setFormat, BytesOf(object.PrimaryFormat));
    EXPECT_EQ(object.PrimaryBufferCreated, 1);
    EXPECT_NE(object.PrimaryBuffer, nullptr);
}

TEST_F(PrimaryBufferTest, MoreThanTwoChannelsSetTheExtensibleRecord) {
    CdsObject& object = Open();
    ASSERT_EQ(object.CreatePrimaryBuffer(5, 24, 20, 96000, 0), 1);
    const fake::BufferRecord& buffer = *fake().Buffer("primary");
    EXPECT_EQ(buffer.setFormat, BytesOf(object.PrimaryFormatExtensible));
    const DWORD mask = object.PrimaryFormatExtensible.dwChannelMask;  // packed: copy first
    EXPECT_EQ(mask, 0x1107u);
    EXPECT_EQ(fake().Calls().back(), "primary.GetFormat(ptr,40)");
}

TEST_F(PrimaryBufferTest, TooManyValidBitsAreRefusedAndKeepTheVerifiedBuffer) {
    CdsObject& object = OpenWithPrimary();
    IDirectSoundBuffer* const verified = object.PrimaryBuffer;
    const auto format = BytesOf(object.PrimaryFormat);
    fake().ClearCalls();

    EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 24, 44100, 0), 0);
    EXPECT_EQ(fake().Calls(), Calls{});
    EXPECT_EQ(object.PrimaryBuffer, verified);
    EXPECT_EQ(object.PrimaryBufferCreated, 1);
    EXPECT_EQ(BytesOf(object.PrimaryFormat), format);

    // Equal valid bits pass, and the new buffer replaces the old one first.
    EXPECT_EQ(object.CreatePrimaryBuffer(2, 24, 24, 44100, 0), 1);
    EXPECT_EQ(fake().Calls().front(), "primary.Release()");
}

TEST_F(PrimaryBufferTest, ADeviceHoldingAnotherFormatFailsTheVerification) {
    struct Row {
        const char* name;
        std::size_t offset;  // of the field the device reports differently
        uint32_t value;
        std::size_t width;
    };
    const Row rows[] = {
        {"channels", offsetof(WAVEFORMATEX, nChannels), 1, 2},
        {"rate", offsetof(WAVEFORMATEX, nSamplesPerSec), 44100, 4},
        {"bits", offsetof(WAVEFORMATEX, wBitsPerSample), 24, 2},
    };
    CdsObject& object = Open();
    for (const Row& row : rows) {
        WAVEFORMATEX held{};
        held.wFormatTag = WAVE_FORMAT_PCM;
        held.nChannels = 2;
        held.nSamplesPerSec = 48000;
        held.wBitsPerSample = 16;
        std::memcpy(reinterpret_cast<uint8_t*>(&held) + row.offset, &row.value, row.width);
        fake().reportedFormat = BytesOf(held);
        EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 0) << row.name;
        ExpectNoPrimaryBuffer(object);
        EXPECT_EQ(fake().Calls().back(), "primary.Release()") << row.name;
    }
    // Only those three fields count: another tag or byte rate still passes.
    WAVEFORMATEX held{};
    held.wFormatTag = 0x55;
    held.nChannels = 2;
    held.nSamplesPerSec = 48000;
    held.nAvgBytesPerSec = 1;
    held.wBitsPerSample = 16;
    fake().reportedFormat = BytesOf(held);
    EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 1);
}

TEST_F(PrimaryBufferTest, ReportedSizesTooSmallForTheComparedFieldsFail) {
    CdsObject& object = Open();
    fake().LogMemory(true);
    for (const DWORD size : {0u, 1u, 8u, 15u}) {
        fake().reportedSize = size;
        fake().ClearCalls();
        EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 0) << size;
        EXPECT_EQ(fake().Count("primary.GetFormat"), 1) << size;
        EXPECT_EQ(fake().Count("Allocate"), 0) << size;
        ExpectNoPrimaryBuffer(object);
    }
    // Sixteen bytes hold the three compared fields.
    fake().reportedSize = 16;
    EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 1);
}

TEST_F(PrimaryBufferTest, EveryFailureFromCreationOnLeavesNoBuffer) {
    struct Row {
        const char* name;
        void (*inject)(fake::Platform&);
        const char* lastCall;  // before the release of the buffer, if one was made
        bool made;
    };
    const Row rows[] = {
        {"create fails", [](fake::Platform& f) { f.Script("device.CreateSoundBuffer", {E_FAIL}); },
         "device.CreateSoundBuffer", false},
        // Success codes other than DS_OK hand over a buffer all the same.
        {"create answers S_FALSE",
         [](fake::Platform& f) { f.Script("device.CreateSoundBuffer", {HRESULT{1}}); },
         "device.CreateSoundBuffer", true},
        {"create answers no virtualization",
         [](fake::Platform& f) { f.Script("device.CreateSoundBuffer", {DS_NO_VIRTUALIZATION}); },
         "device.CreateSoundBuffer", true},
        {"create answers S_FALSE and null",
         [](fake::Platform& f) {
             f.Script("device.CreateSoundBuffer", {HRESULT{1}});
             f.NullOutput("device.CreateSoundBuffer");
         },
         "device.CreateSoundBuffer", false},
        {"create gives null", [](fake::Platform& f) { f.NullOutput("device.CreateSoundBuffer"); },
         "device.CreateSoundBuffer", false},
        {"set format", [](fake::Platform& f) { f.Script("primary.SetFormat", {DSERR_BADFORMAT}); },
         "primary.SetFormat", true},
        {"format size", [](fake::Platform& f) { f.Script("primary.GetFormat", {E_FAIL}); },
         "primary.GetFormat", true},
        {"scratch memory", [](fake::Platform& f) { f.FailAllocation(0); }, "primary.GetFormat",
         true},
        {"format record",
         [](fake::Platform& f) {
             f.Script("primary.GetFormat", {DS_OK, DSERR_INVALIDPARAM});
         },
         "primary.GetFormat", true},
    };
    CdsObject& object = Open();
    for (const Row& row : rows) {
        fake().ClearCalls();
        row.inject(fake());
        EXPECT_EQ(object.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 0) << row.name;
        ExpectNoPrimaryBuffer(object);
        Calls calls = fake().Calls();
        if (row.made) {
            EXPECT_EQ(calls.back(), "primary.Release()") << row.name;
            calls.pop_back();
        }
        EXPECT_EQ(calls.back().substr(0, calls.back().find('(')), row.lastCall) << row.name;
        // Only the device is held: nothing leaked, nothing released twice,
        // no error code's output used.
        EXPECT_EQ(fake().Leaks(), "device holds 1 refs; library still loaded; ") << row.name;
    }
}

TEST_F(PrimaryBufferTest, RemovalOnAFreshObjectOrTwiceMakesNoCall) {
    CdsObject unopened(nullptr, nullptr);
    CdsObject& fresh = Open();
    CdsObject& verified = OpenWithPrimary();
    fake().ClearCalls();

    unopened.RemovePrimaryBuffer();
    fresh.RemovePrimaryBuffer();
    fresh.RemovePrimaryBuffer();
    EXPECT_EQ(fake().Calls(), Calls{});
    ExpectNoPrimaryBuffer(unopened);
    ExpectNoPrimaryBuffer(fresh);

    verified.RemovePrimaryBuffer();
    verified.RemovePrimaryBuffer();
    EXPECT_EQ(fake().Calls(), Calls{"primary.Release()"});
    ExpectNoPrimaryBuffer(verified);
}

}  // namespace

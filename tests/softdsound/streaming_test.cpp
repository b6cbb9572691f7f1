// The streaming cycle as a client runs it: blocks refilled on block events,
// with the cursors and events checked against what the output received.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "disk_output.h"
#include "mivo_dsound_hooks.h"
#include "platform/platform.h"

namespace device_test {
namespace {

constexpr uint32_t kBlockFrames = 2400;  // 50 ms at 48 kHz
constexpr uint32_t kBlocks = 4;
constexpr uint32_t kFrameBytes = 4;  // stereo 16-bit
constexpr uint32_t kBlockBytes = kBlockFrames * kFrameBytes;
constexpr uint32_t kBufferBytes = kBlockBytes * kBlocks;

// Frame n of a stream whose channels differ, so that a swap, a repeat or a
// dropped block all show: a 440 Hz sine on the left, its negated half on
// the right. Frame 0 is not silent, which marks where playback began.
void StreamFrame(uint64_t n, int16_t out[2]) {
    const double phase = 2.0 * M_PI * 440.0 * static_cast<double>(n) / 48000.0 + 0.3;
    out[0] = static_cast<int16_t>(std::lround(12000.0 * std::sin(phase)));
    out[1] = static_cast<int16_t>(-out[0] / 2);
}

std::vector<uint8_t> Chunk(uint64_t index) {
    std::vector<uint8_t> bytes(kBlockBytes);
    for (uint32_t f = 0; f < kBlockFrames; ++f) {
        int16_t frame[2];
        StreamFrame(index * kBlockFrames + f, frame);
        std::memcpy(&bytes[size_t{f} * kFrameBytes], frame, sizeof frame);
    }
    return bytes;
}

class Streaming : public ::testing::Test {
protected:
    void SetUp() override {
        sound_ = OpenDevice({2, 16, 48000, 0});
        ASSERT_NE(sound_, nullptr);
        ASSERT_EQ(sound_->CreateStreamingBuffer(kBufferBytes, kBlockBytes, blockEvent_.Handle(),
                                                stopEvent_.Handle(), 2, 16, 16, 48000, 0),
                  1);
    }

    // Cursor readings, unwrapped: bytes the play cursor has moved in total.
    void Track(uint32_t play, uint32_t write, bool playing) {
        const uint32_t step = (play + kBufferBytes - lastPlay_) % kBufferBytes;
        // Readings come far more often than half a buffer's worth of play,
        // so a step this long can only be a move backwards.
        EXPECT_LT(step, kBufferBytes / 2)
            << "play cursor went back from " << lastPlay_ << " to " << play;
        const uint32_t lead = (write + kBufferBytes - play) % kBufferBytes;
        if (playing) {
            EXPECT_GT(lead, 0u);
            EXPECT_LT(lead, kBlockBytes);
        }
        travelled_ += step;
        lastPlay_ = play;
    }

    void Poll(bool playing = true) {
        uint32_t play = 0;
        uint32_t write = 0;
        ASSERT_EQ(sound_->GetStreamingBufferPositions(&play, &write), 1);
        Track(play, write, playing);
    }

    DiskFile file_{-1};
    EventFd blockEvent_, stopEvent_;
    std::unique_ptr<CdsObject> sound_;
    uint32_t lastPlay_ = 0;
    uint64_t travelled_ = 0;
};

TEST_F(Streaming, RefilledSineArrivesWholeInOrderWithOneEventPerBlock) {
    uint32_t play = 1;
    uint32_t write = 1;
    ASSERT_EQ(sound_->GetStreamingBufferPositions(&play, &write), 1);
    EXPECT_EQ(play, 0u);
    EXPECT_EQ(write, 0u);
    for (uint32_t b = 0; b < kBlocks; ++b) {
        ASSERT_TRUE(FillBlock(*sound_, b + 1, Chunk(b).data(), kBlockBytes));
    }

    // Six trips round the buffer; each block event hands back the block
    // that just finished, which gets the next chunk of the stream.
    constexpr uint64_t kEvents = 24;
    ASSERT_EQ(sound_->PlayStreamingBuffer(), 1);
    uint64_t events = 0;
    uint64_t signalled = 0;
    uint64_t written = kBlocks;
    while (events < kEvents) {
        Poll();
        // A slow wake-up may find two events: each hands back its block.
        const uint64_t fired = blockEvent_.Take(1);
        signalled += fired;
        for (uint64_t n = 0; n < fired && events < kEvents; ++n) {
            const uint32_t finished = static_cast<uint32_t>(events % kBlocks) + 1;
            ASSERT_TRUE(FillBlock(*sound_, finished, Chunk(written).data(), kBlockBytes));
            ++written;
            ++events;
        }
    }
    ASSERT_EQ(sound_->StopStreamingBuffer(), 1);
    Poll(false);
    signalled += blockEvent_.Take();
    EXPECT_EQ(stopEvent_.Take(), 1u);
    // One event for each block whose last byte the play cursor passed.
    EXPECT_EQ(signalled, travelled_ / kBlockBytes);

    sound_.reset();  // the disk driver's file is complete once the output closes
    const std::vector<int32_t> out = Samples(file_.Read(), 16);
    const size_t start = FirstSound(out, 16);
    const uint64_t frames = kEvents * kBlockFrames;
    ASSERT_GE(out.size(), start + frames * 2);
    for (uint64_t n = 0; n < frames; ++n) {
        int16_t expected[2];
        StreamFrame(n, expected);
        ASSERT_EQ(out[start + 2 * n], expected[0]) << "frame " << n;
        ASSERT_EQ(out[start + 2 * n + 1], expected[1]) << "frame " << n;
    }
}

// Between rounds nothing is due: the pacing idles, which is no stall of
// the process however long it lasts.
TEST_F(Streaming, EachStopSignalsTheStopEventOnce) {
    IMivoDeviceHooks* hooks = nullptr;
    ASSERT_EQ(
        sound_->DirectSound->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)),
        DS_OK);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(sound_->PlayStreamingBuffer(), 1);
        blockEvent_.Take(200);
        ASSERT_EQ(sound_->StopStreamingBuffer(), 1);
        EXPECT_EQ(stopEvent_.Take(100), 1u) << "round " << round;
        // Once the pacing has seen the stop (it looks at least every 200 ms).
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        DWORD before = 0;
        DWORD after = 0;
        ASSERT_EQ(hooks->GetSkippedStalls(&before), DS_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_EQ(hooks->GetSkippedStalls(&after), DS_OK);
        EXPECT_EQ(after, before) << "an idle spell taken for a stall, round " << round;
    }
    hooks->Release();
    // Stopping a stopped buffer stops nothing.
    ASSERT_EQ(sound_->StopStreamingBuffer(), 1);
    EXPECT_EQ(stopEvent_.Take(50), 0u);
}

TEST_F(Streaming, AfterSettingTheBlockTheFirstEventEndsThatBlock) {
    for (uint32_t k = 1; k <= kBlocks; ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(sound_->SetStreamingBufferPosition(k), 1);
        uint32_t play = 0;
        ASSERT_EQ(sound_->GetStreamingBufferPositions(&play, nullptr), 1);
        EXPECT_EQ(play, (k - 1) * kBlockBytes);
        blockEvent_.Take();
        ASSERT_EQ(sound_->PlayStreamingBuffer(), 1);
        ASSERT_EQ(blockEvent_.Take(1000), 1u);
        ASSERT_EQ(sound_->GetStreamingBufferPositions(&play, nullptr), 1);
        ASSERT_EQ(sound_->StopStreamingBuffer(), 1);
        // The cursor has just left block k: it is in the next one.
        EXPECT_EQ(play / kBlockBytes, k % kBlocks);
        stopEvent_.Take();
    }
}

}  // namespace
}  // namespace device_test

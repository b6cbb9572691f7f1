// The device's objects on the test backend's virtual clock: block events,
// cursors and stop events as a client sees them while the output plays in
// uneven steps, stalls and goes away.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "event_fd.h"
#include "objects/sound_device.h"
#include "output/test_output.h"

namespace mivo_dsound {
namespace {

using mivo_support::EventFd;

constexpr DWORD kBlockFrames = 960;  // 20 ms at 48 kHz
constexpr DWORD kBlocks = 4;
constexpr DWORD kFrameBytes = 4;
constexpr DWORD kBufferBytes = kBlocks * kBlockFrames * kFrameBytes;

HWND Window() {
    static int window = 0;
    return reinterpret_cast<HWND>(&window);
}

class Timeline : public ::testing::Test {
protected:
    void SetUp() override {
        auto backend = std::make_unique<TestBackend>();
        backend_ = backend.get();
        SoundDevice* device = nullptr;
        ASSERT_EQ(SoundDevice::Create(std::move(backend), OutputInfo{}, &device), DS_OK);
        device_ = device;
        ASSERT_EQ(device_->SetCooperativeLevel(Window(), DSSCL_PRIORITY), DS_OK);
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 48000 * kFrameBytes, kFrameBytes, 16, 0};
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2;
        desc.dwBufferBytes = kBufferBytes;
        desc.lpwfxFormat = &format;
        ASSERT_EQ(device_->CreateSoundBuffer(&desc, &buffer_, nullptr), DS_OK);
        IDirectSoundNotify* notify = nullptr;
        ASSERT_EQ(buffer_->QueryInterface(kIidDirectSoundNotify, reinterpret_cast<void**>(&notify)),
                  DS_OK);
        DSBPOSITIONNOTIFY positions[kBlocks + 1];
        for (DWORD i = 0; i < kBlocks; ++i) {
            positions[i] = {(i + 1) * kBlockFrames * kFrameBytes - 1, block_.Handle()};
        }
        positions[kBlocks] = {DSBPN_OFFSETSTOP, stop_.Handle()};
        ASSERT_EQ(notify->SetNotificationPositions(kBlocks + 1, positions), DS_OK);
        notify->Release();
    }
    void TearDown() override {
        if (buffer_ != nullptr) {
            EXPECT_EQ(buffer_->Release(), 0u);
        }
        if (device_ != nullptr) {
            EXPECT_EQ(device_->Release(), 0u);
        }
    }

    DWORD PlayCursor() {
        DWORD play = 0;
        DWORD write = 0;
        EXPECT_EQ(buffer_->GetCurrentPosition(&play, &write), DS_OK);
        return play;
    }

    // Plays `frames`, and checks that the cursor moved forward by no more
    // than was played and the ring's lead, and that one block event came
    // for each block end it passed. Returns the frames it moved.
    uint64_t Step(uint64_t frames) {
        const DWORD before = PlayCursor();
        backend_->Play(frames);
        const DWORD after = PlayCursor();
        const uint64_t moved = (after + kBufferBytes - before) % kBufferBytes / kFrameBytes;
        EXPECT_LE(moved, frames + uint64_t{2} * kBlockFrames)
            << "the cursor ran backwards or lapped";
        const uint64_t ends =
            (before / kFrameBytes + moved) / kBlockFrames - before / kFrameBytes / kBlockFrames;
        EXPECT_EQ(block_.Take(), ends) << "from " << before << " to " << after;
        return moved;
    }

    TestBackend* backend_ = nullptr;
    IDirectSound* device_ = nullptr;
    IDirectSoundBuffer* buffer_ = nullptr;
    EventFd block_;
    EventFd stop_;
};

TEST_F(Timeline, UnevenStepsGiveOneEventPerBlockEndAndOneStopEventPerStop) {
    std::mt19937 random(7);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        uint64_t moved = 0;
        while (moved < uint64_t{10} * kBlocks * kBlockFrames) {
            moved += Step(std::uniform_int_distribution<uint64_t>(1, 700)(random));
        }
        ASSERT_EQ(buffer_->Stop(), DS_OK);
        ASSERT_EQ(buffer_->Stop(), DS_OK);
        EXPECT_EQ(stop_.Take(), 1u);
        Step(uint64_t{2} * kBlockFrames);  // stopped: nothing moves, nothing fires
        EXPECT_EQ(stop_.Take(), 0u);
    }
}

TEST_F(Timeline, AfterAStallPlaybackGoesOnWhereItStopped) {
    ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    for (int i = 0; i < 20; ++i) Step(240);
    for (int64_t stallMs : {60, 500}) {
        SCOPED_TRACE(stallMs);
        backend_->Stall(stallMs * 1000000);
        // The stretch the process missed is not played at once: no lap of
        // block events, the cursor moves on by what the output played.
        EXPECT_LE(Step(240), 240u + kBlockFrames);
        for (int i = 0; i < 10; ++i) Step(240);
    }
}

TEST_F(Timeline, ALostOutputLosesTheBufferUntilItCanBeReopened) {
    ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    Step(uint64_t{3} * kBlockFrames);
    backend_->Lose(2);
    void* data = nullptr;
    DWORD bytes = 0;
    EXPECT_EQ(buffer_->Lock(0, 4, &data, &bytes, nullptr, nullptr, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
    DWORD status = 0;
    ASSERT_EQ(buffer_->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
    EXPECT_FALSE(backend_->HasOutput());
    EXPECT_EQ(buffer_->Restore(), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer_->Restore(), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer_->Restore(), DS_OK);
    ASSERT_EQ(buffer_->Lock(0, 4, &data, &bytes, nullptr, nullptr, 0), DS_OK);
    ASSERT_EQ(buffer_->Unlock(data, bytes, nullptr, 0), DS_OK);
    ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    uint64_t moved = 0;
    while (moved < uint64_t{2} * kBlocks * kBlockFrames) moved += Step(480);
}

}  // namespace
}  // namespace mivo_dsound

// The device's objects on the test backend's virtual clock: block events,
// cursors and stop events as a client sees them while the output plays in
// uneven steps, stalls and goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

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

// A buffer's shape: its format and its blocks, each with an event at its
// last byte.
struct Shape {
    WORD channels;
    WORD bits;
    DWORD rate;
    DWORD blockFrames;
    DWORD blocks;
};

constexpr Shape kStereo{2, 16, 48000, kBlockFrames, kBlocks};

class Timeline : public ::testing::Test {
protected:
    void SetUp() override {
        auto backend = std::make_unique<TestBackend>();
        backend_ = backend.get();
        SoundDevice* device = nullptr;
        ASSERT_EQ(SoundDevice::Create(std::move(backend), OutputInfo{}, &device), DS_OK);
        device_ = device;
        ASSERT_EQ(device_->SetCooperativeLevel(Window(), DSSCL_PRIORITY), DS_OK);
        MakeBuffer(kStereo);
    }

    // Replaces the buffer with one of `shape`, every byte `fill`.
    void MakeBuffer(const Shape& shape, uint8_t fill = 0) {
        if (buffer_ != nullptr) buffer_->Release();
        buffer_ = nullptr;
        const auto frameBytes = static_cast<WORD>(shape.channels * shape.bits / 8);
        WAVEFORMATEXTENSIBLE format{};
        format.Format = {WAVE_FORMAT_PCM, shape.channels, shape.rate, shape.rate * frameBytes,
                         frameBytes,      shape.bits,     0};
        if (shape.channels > 2) {
            format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
            format.Format.cbSize = 22;
            format.Samples.wValidBitsPerSample = shape.bits;
            format.dwChannelMask = (1u << shape.channels) - 1;
            format.SubFormat = kSubtypePcm;
        }
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags =
            DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLVOLUME;
        desc.dwBufferBytes = shape.blocks * shape.blockFrames * frameBytes;
        desc.lpwfxFormat = &format.Format;
        ASSERT_EQ(device_->CreateSoundBuffer(&desc, &buffer_, nullptr), DS_OK);
        void* data = nullptr;
        DWORD bytes = 0;
        ASSERT_EQ(buffer_->Lock(0, 0, &data, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER),
                  DS_OK);
        std::memset(data, fill, bytes);
        ASSERT_EQ(buffer_->Unlock(data, bytes, nullptr, 0), DS_OK);
        IDirectSoundNotify* notify = nullptr;
        ASSERT_EQ(buffer_->QueryInterface(kIidDirectSoundNotify, reinterpret_cast<void**>(&notify)),
                  DS_OK);
        std::vector<DSBPOSITIONNOTIFY> positions;
        for (DWORD i = 0; i < shape.blocks; ++i) {
            positions.push_back({(i + 1) * shape.blockFrames * frameBytes - 1, block_.Handle()});
        }
        positions.push_back({DSBPN_OFFSETSTOP, stop_.Handle()});
        ASSERT_EQ(notify->SetNotificationPositions(static_cast<DWORD>(positions.size()),
                                                   positions.data()),
                  DS_OK);
        notify->Release();
    }

    IDirectSoundBuffer* Primary() {
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLVOLUME;
        IDirectSoundBuffer* primary = nullptr;
        EXPECT_EQ(device_->CreateSoundBuffer(&desc, &primary, nullptr), DS_OK);
        return primary;
    }

    void TearDown() override {
        if (buffer_ != nullptr) {
            EXPECT_EQ(buffer_->Release(), 0u);
        }
        if (device_ != nullptr) {
            EXPECT_EQ(device_->Release(), 0u);
        }
    }

    // Stalls the device's clock has taken off its line.
    DWORD Stalls() {
        IMivoDeviceHooks* hooks = nullptr;
        EXPECT_EQ(device_->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)),
                  DS_OK);
        DWORD stalls = 0;
        EXPECT_EQ(hooks->GetSkippedStalls(&stalls), DS_OK);
        hooks->Release();
        return stalls;
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

    // Plays the buffer from its start, one output frame a step, until
    // `events` block events have come, and checks when each came: while the
    // clock's line was ahead of what the output had read but not past the
    // block's end (so before the output read that end, and no sooner than the
    // lead the line starts with), with the play cursor on the block's end.
    void CheckEventTimes(const Shape& shape, uint64_t events) {
        const uint64_t startedAt = backend_->FramesPlayed();
        const DWORD frameBytes = shape.channels * shape.bits / 8u;
        const DWORD blockBytes = shape.blockFrames * frameBytes;
        ASSERT_EQ(buffer_->SetCurrentPosition(0), DS_OK);
        ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        const uint32_t outRate = backend_->Format().rate;
        // Output frames a block takes; the rows' rates divide evenly.
        const uint64_t blockOut = uint64_t{shape.blockFrames} * outRate / shape.rate;
        std::vector<uint64_t> fired;
        while (fired.size() < events &&
               backend_->FramesPlayed() < startedAt + (events + 2) * blockOut) {
            backend_->Play(1);
            for (uint64_t n = block_.Take(); n > 0; --n) {
                fired.push_back(backend_->FramesPlayed());
                EXPECT_EQ(PlayCursor(), fired.size() % shape.blocks * blockBytes)
                    << "event " << fired.size();
            }
        }
        ASSERT_EQ(fired.size(), events);
        ASSERT_EQ(buffer_->Stop(), DS_OK);
        // What was mixed ahead plays out before whatever comes next.
        backend_->Play(uint64_t{2} * TestBackend::Settings{}.startFrames);
        EXPECT_EQ(block_.Take(), 0u);
        // Where the buffer's first frame reached the output.
        const std::vector<uint8_t>& played = backend_->Played();
        const size_t outFrameBytes = 4;  // stereo 16-bit
        uint64_t start = startedAt;
        while (
            start * outFrameBytes < played.size() &&
            std::all_of(played.begin() + static_cast<std::ptrdiff_t>(start * outFrameBytes),
                        played.begin() + static_cast<std::ptrdiff_t>((start + 1) * outFrameBytes),
                        [](uint8_t b) { return b == 0; })) {
            ++start;
        }
        const uint64_t lead = TestBackend::Settings{}.startFrames;
        for (uint64_t k = 1; k <= events; ++k) {
            const uint64_t end = start + k * blockOut;
            EXPECT_LT(fired[k - 1], end) << "event " << k << " came once its block was read";
            EXPECT_GE(fired[k - 1] + lead, end) << "event " << k << " came early";
        }
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
        for (int step = 0; step < 1000 && moved < uint64_t{10} * kBlocks * kBlockFrames; ++step) {
            moved += Step(std::uniform_int_distribution<uint64_t>(1, 700)(random));
        }
        ASSERT_GE(moved, uint64_t{10} * kBlocks * kBlockFrames) << "the buffer stopped moving";
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
    DWORD stalls = 0;
    for (int64_t stallMs : {60, 500}) {
        SCOPED_TRACE(stallMs);
        EXPECT_EQ(Stalls(), stalls++);
        backend_->Stall(stallMs * 1000000);
        // The stretch the process missed is not played at once: no lap of
        // block events, the cursor moves on by what the output played.
        EXPECT_LE(Step(240), 240u + kBlockFrames);
        for (int i = 0; i < 10; ++i) Step(240);
        EXPECT_EQ(Stalls(), stalls);
    }
}

struct TimingCase {
    const char* name;
    Shape shape;
    int64_t idleMs;  // then stopped, the output playing on this long, and played again
};

TEST_F(Timeline, EachBlockEventComesWhenTheClockReachesItsBlockEnd) {
    const TimingCase cases[] = {
        {"Stereo16", kStereo, 0},
        {"Mono8OddBlocks", {1, 8, 48000, 1001, 3}, 0},
        {"SixChannels24", {6, 24, 48000, 441, 5}, 0},
        {"HalfRate", {2, 16, 24000, 500, 3}, 0},
        {"DoubleRate", {2, 16, 96000, 1500, 4}, 0},
        {"PowerOfTwo", {2, 16, 48000, 1024, 4}, 0},
        {"AfterAnIdleSpell", kStereo, 1000},
        {"OddBlocksAfterAnIdleSpell", {1, 8, 48000, 1001, 3}, 3000},
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.name);
        MakeBuffer(c.shape, 0x40);
        CheckEventTimes(c.shape, uint64_t{2} * c.shape.blocks);
        if (c.idleMs == 0) continue;
        backend_->Play(static_cast<uint64_t>(c.idleMs) * 48);
        EXPECT_EQ(block_.Take(), 0u);
        CheckEventTimes(c.shape, uint64_t{2} * c.shape.blocks);
        // Nothing stopped the process: an idle spell is no stall.
        EXPECT_EQ(Stalls(), 0u);
    }
}

// A steady frame (left 8000, right -4000) from the buffer, and what the
// output makes of it.
struct HeardCase {
    const char* name;
    LONG bufferVolume;
    LONG primaryVolume;
    WORD outputChannels;  // 0: the output's format stays; else set, 16-bit
    DWORD outputMask;
    std::vector<double> frame;  // each output channel, as a share of full scale
};

TEST_F(Timeline, TheOutputHearsTheBufferThroughBothVolumesAndTheOutputFormat) {
    const double quarter = 8000.0 / 32768;
    const double eighth = -4000.0 / 32768;
    const double tenth = std::pow(10.0, -1.0);
    const double third = std::pow(10.0, -0.3);
    const HeardCase cases[] = {
        {"Unchanged", 0, 0, 0, 0, {quarter, eighth}},
        {"PrimaryVolume", 0, -2000, 0, 0, {quarter * tenth, eighth * tenth}},
        {"BothVolumes", -300, -300, 0, 0, {quarter * third, eighth * third}},
        {"PrimarySilent", 0, DSBVOLUME_MIN, 0, 0, {0, 0}},
        {"MonoFrontLeftOutput", 0, 0, 1, SPEAKER_FRONT_LEFT, {quarter}},
        {"FivePointOneOutput", 0, -2000, 6, 0x3F, {quarter * tenth, eighth * tenth, 0, 0, 0, 0}},
    };
    for (const HeardCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The buffer is made first: a change of the output's format reaches it.
        MakeBuffer(kStereo);
        IDirectSoundBuffer* primary = Primary();
        ASSERT_NE(primary, nullptr);
        if (c.outputChannels != 0) {
            WAVEFORMATEXTENSIBLE format{};
            const auto frameBytes = static_cast<WORD>(2 * c.outputChannels);
            format.Format = {WAVE_FORMAT_EXTENSIBLE,
                             c.outputChannels,
                             48000,
                             48000u * frameBytes,
                             frameBytes,
                             16,
                             22};
            format.Samples.wValidBitsPerSample = 16;
            format.dwChannelMask = c.outputMask;
            format.SubFormat = kSubtypePcm;
            ASSERT_EQ(primary->SetFormat(&format.Format), DS_OK);
        }
        ASSERT_EQ(primary->SetVolume(c.primaryVolume), DS_OK);
        ASSERT_EQ(buffer_->SetVolume(c.bufferVolume), DS_OK);
        void* data = nullptr;
        DWORD bytes = 0;
        ASSERT_EQ(buffer_->Lock(0, 0, &data, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER),
                  DS_OK);
        for (DWORD at = 0; at < bytes; at += kFrameBytes) {
            const int16_t frame[2] = {8000, -4000};
            std::memcpy(static_cast<uint8_t*>(data) + at, frame, sizeof frame);
        }
        ASSERT_EQ(buffer_->Unlock(data, bytes, nullptr, 0), DS_OK);
        backend_->ClearPlayed();
        ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        backend_->Play(uint64_t{3} * kBlockFrames);
        ASSERT_EQ(buffer_->Stop(), DS_OK);
        EXPECT_EQ(primary->Release(), 0u);

        const size_t channels = c.frame.size();
        ASSERT_EQ(backend_->Format().channels, static_cast<int>(channels));
        const std::vector<uint8_t>& played = backend_->Played();
        std::vector<int16_t> samples(played.size() / 2);
        std::memcpy(samples.data(), played.data(), samples.size() * 2);
        // From where the buffer starts (past the clock's lead) to the end.
        const size_t first = TestBackend::Settings{}.startFrames * channels;
        ASSERT_GT(samples.size(), first + kBlockFrames * channels);
        for (size_t i = first; i < samples.size(); ++i) {
            // Within the dither of a 16-bit output.
            ASSERT_NEAR(samples[i], c.frame[i % channels] * 32768, 2.0)
                << "frame " << i / channels << " channel " << i % channels;
        }
    }
}

// A one-shot sound at another rate plays to its very end: what the rate
// converter still holds when the buffer runs out is heard too.
TEST_F(Timeline, AOneShotSoundAtAnotherRatePlaysWhole) {
    for (const DWORD rate : {44100u, 96000u, 48000u}) {
        SCOPED_TRACE(rate);
        const Shape shape{2, 16, rate, rate / 10, 1};  // 100 ms
        MakeBuffer(shape, 0x40);                       // a steady level
        backend_->ClearPlayed();
        ASSERT_EQ(buffer_->Play(0, 0, 0), DS_OK);
        backend_->Play(uint64_t{48000} / 5);
        std::vector<int16_t> samples(backend_->Played().size() / 2);
        std::memcpy(samples.data(), backend_->Played().data(), samples.size() * 2);
        // Frames at half the level or more: as many as 100 ms at 48 kHz.
        size_t loud = 0;
        for (size_t i = 0; i < samples.size(); i += 2) loud += samples[i] >= 0x4040 / 2 ? 1 : 0;
        EXPECT_NEAR(static_cast<double>(loud), 4800.0, 2.0);
        EXPECT_EQ(stop_.Take(), 1u);
    }
}

TEST_F(Timeline, ALostOutputLosesTheBufferUntilItCanBeReopened) {
    // Two opens fail after the first loss; none after the second, where
    // Restore is the first call the buffer hears of it by.
    for (const int failingOpens : {2, 0}) {
        SCOPED_TRACE(failingOpens);
        ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        Step(uint64_t{3} * kBlockFrames);
        backend_->Lose(failingOpens);
        void* data = nullptr;
        DWORD bytes = 0;
        IDirectSoundBuffer* primary = Primary();
        ASSERT_NE(primary, nullptr);
        DWORD status = 0;
        if (failingOpens > 0) {
            EXPECT_EQ(buffer_->Lock(0, 4, &data, &bytes, nullptr, nullptr, 0), DSERR_BUFFERLOST);
            EXPECT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
            ASSERT_EQ(buffer_->GetStatus(&status), DS_OK);
            EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
            ASSERT_EQ(primary->GetStatus(&status), DS_OK);
            EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
            EXPECT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
            EXPECT_FALSE(backend_->HasOutput());
            EXPECT_EQ(buffer_->Restore(), DSERR_BUFFERLOST);
            EXPECT_EQ(primary->Restore(), DSERR_BUFFERLOST);
        }
        EXPECT_EQ(buffer_->Restore(), DS_OK);
        EXPECT_TRUE(backend_->HasOutput());
        ASSERT_EQ(primary->GetStatus(&status), DS_OK);
        EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
        EXPECT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        WAVEFORMATEX stereo{WAVE_FORMAT_PCM, 2, 44100, 44100 * kFrameBytes, kFrameBytes, 16, 0};
        EXPECT_EQ(primary->SetFormat(&stereo), DS_OK);
        EXPECT_EQ(backend_->Format().rate, 44100u);
        primary->Release();
        ASSERT_EQ(buffer_->Lock(0, 4, &data, &bytes, nullptr, nullptr, 0), DS_OK);
        ASSERT_EQ(buffer_->Unlock(data, bytes, nullptr, 0), DS_OK);
        ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        uint64_t moved = 0;
        for (int step = 0; step < 100 && moved < uint64_t{2} * kBlocks * kBlockFrames; ++step) {
            moved += Step(480);
        }
        EXPECT_GE(moved, uint64_t{2} * kBlocks * kBlockFrames) << "the buffer plays again";
        ASSERT_EQ(buffer_->Stop(), DS_OK);
        stop_.Take();
    }
}

}  // namespace
}  // namespace mivo_dsound

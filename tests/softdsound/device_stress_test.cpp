// The software device under abuse: many threads and objects at once, a
// buffer destroyed while it plays, Stop and Release racing the mixer, a lost
// output mid-stream, the whole process stopped for a while, a client that never unlocks,
// descriptions of every shape, the largest buffer there is, and a client reading its
// environment throughout. Nothing may crash, leak or hang, and every answer must be one
// DirectSound allows.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "disk_output.h"
#include "mivo_dsound_hooks.h"
#include "platform/platform.h"

extern "C" HRESULT DirectSoundCreate(const GUID* device, IDirectSound** out, IUnknown* outer);

namespace device_test {
namespace {

constexpr uint32_t kBlockBytes = 960;  // 5 ms of 48 kHz stereo 16-bit
constexpr uint32_t kBlocks = 4;

// One client's whole cycle; the object is destroyed while it plays.
void PlayAndDestroyWhilePlaying(int rounds) {
    std::vector<uint8_t> tone(kBlockBytes, 0x40);
    for (int round = 0; round < rounds; ++round) {
        EventFd blockEvent;
        EventFd stopEvent;
        auto sound = OpenDevice({2, 16, 48000, 0});
        ASSERT_NE(sound, nullptr);
        ASSERT_EQ(
            sound->CreateStreamingBuffer(kBlocks * kBlockBytes, kBlockBytes, blockEvent.Handle(),
                                         stopEvent.Handle(), 2, 16, 16, 48000, 0),
            1);
        for (uint32_t block = 1; block <= kBlocks; ++block) {
            ASSERT_TRUE(FillBlock(*sound, block, tone.data(), kBlockBytes));
        }
        ASSERT_EQ(sound->PlayStreamingBuffer(), 1);
        for (int i = 0; i < 3; ++i) {
            uint32_t play = 0;
            uint32_t write = 0;
            EXPECT_EQ(sound->GetStreamingBufferPositions(&play, &write), 1);
            EXPECT_LT(play, kBlocks * kBlockBytes);
            EXPECT_EQ(sound->SetStreamingBufferVolume(-100 * i), 1);
            blockEvent.Take(20);
        }
        sound.reset();  // still playing
    }
}

TEST(DeviceStress, EightThreadsRunWholeCyclesAndDestroyWhilePlaying) {
    DiskFile file(1);
    std::vector<std::thread> threads;
    threads.reserve(8);
    for (int t = 0; t < 8; ++t) threads.emplace_back(PlayAndDestroyWhilePlaying, 4);
    for (auto& thread : threads) thread.join();
}

TEST(DeviceStress, AHundredObjectsCreatedAndDestroyedInALoop) {
    DiskFile file(1);
    for (int i = 0; i < 100; ++i) {
        auto sound = OpenDevice({2, 16, 48000, 0});
        ASSERT_NE(sound, nullptr) << "object " << i;
        ASSERT_EQ(sound->CreateStreamingBuffer(4 * kBlockBytes, kBlockBytes, nullptr, nullptr, 2,
                                               16, 16, 48000, 0),
                  1);
        if (i % 10 == 0) {
            EXPECT_EQ(sound->PlayStreamingBuffer(), 1);
        }
    }
}

class DirectObjects : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DirectSoundCreate(nullptr, &ds_, nullptr), DS_OK); }
    void TearDown() override { EXPECT_EQ(ds_->Release(), 0u); }

    static WAVEFORMATEX Stereo16() {
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 2;
        format.nSamplesPerSec = 48000;
        format.nBlockAlign = 4;
        format.nAvgBytesPerSec = 192000;
        format.wBitsPerSample = 16;
        return format;
    }

    HRESULT Create(DWORD flags, DWORD bytes, IDirectSoundBuffer** buffer) {
        WAVEFORMATEX format = Stereo16();
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = flags;
        desc.dwBufferBytes = bytes;
        desc.lpwfxFormat = &format;
        return ds_->CreateSoundBuffer(&desc, buffer, nullptr);
    }

    DiskFile file_{1};
    IDirectSound* ds_ = nullptr;
};

TEST_F(DirectObjects, StopAndReleaseRaceTheMixer) {
    EventFd stopEvent;
    for (int i = 0; i < 200; ++i) {
        IDirectSoundBuffer* buffer = nullptr;
        ASSERT_EQ(Create(DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2, 4 * kBlockBytes,
                         &buffer),
                  DS_OK);
        IDirectSoundNotify* notify = nullptr;
        ASSERT_EQ(buffer->QueryInterface(kIidDirectSoundNotify, reinterpret_cast<void**>(&notify)),
                  DS_OK);
        const DSBPOSITIONNOTIFY stop = {DSBPN_OFFSETSTOP, stopEvent.Handle()};
        ASSERT_EQ(notify->SetNotificationPositions(1, &stop), DS_OK);
        ASSERT_EQ(buffer->Play(0, 0, i % 2 == 0 ? DSBPLAY_LOOPING : 0), DS_OK);
        if (i % 3 != 0) {
            EXPECT_EQ(buffer->Stop(), DS_OK);
        }
        // Release the buffer before its notify interface half the time: the
        // interface keeps the buffer alive until it goes too.
        if (i % 2 == 0) {
            buffer->Release();
            notify->Release();
        } else {
            notify->Release();
            buffer->Release();
        }
    }
    // A stopped buffer signals its stop event; one released while playing
    // may or may not, but never more than once per Stop.
    EXPECT_GE(stopEvent.Take(0), 1u);
}

TEST_F(DirectObjects, AClientThatNeverUnlocksLeavesNothingBehind) {
    IDirectSoundBuffer* buffer = nullptr;
    ASSERT_EQ(Create(0, 4 * kBlockBytes, &buffer), DS_OK);
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    ASSERT_EQ(buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
    ASSERT_EQ(n1, 4 * kBlockBytes);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(buffer->Release(), 0u);
}

TEST_F(DirectObjects, DescriptionsOfEveryShapeGetAnAnswerNotACrash) {
    std::mt19937 random(2024);
    const DWORD sizes[] = {0, 20, 24, 36, sizeof(DSBUFFERDESC), 41, 0xFFFFFFFFu};
    const DWORD byteCounts[] = {0, 3, 4, 7, 4800, 0x0FFFFFFF, 0x10000000, 0xFFFFFFFFu};
    const WORD tags[] = {0, WAVE_FORMAT_PCM, 3, WAVE_FORMAT_EXTENSIBLE, 0x55};
    int accepted = 0;
    for (int i = 0; i < 400; ++i) {
        WAVEFORMATEXTENSIBLE format{};
        format.Format.wFormatTag = tags[random() % 5];
        format.Format.nChannels = static_cast<WORD>(random() % 10);
        format.Format.nSamplesPerSec = random() % 3 == 0 ? random() : 48000;
        format.Format.wBitsPerSample = static_cast<WORD>(random() % 4 == 0 ? random() % 40 : 16);
        format.Format.nBlockAlign =
            static_cast<WORD>(format.Format.nChannels * format.Format.wBitsPerSample / 8);
        format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * format.Format.nSamplesPerSec;
        format.Format.cbSize = static_cast<WORD>(random() % 3 == 0 ? random() % 40 : 22);
        format.Samples.wValidBitsPerSample = static_cast<WORD>(random() % 40);
        format.dwChannelMask = random();

        DSBUFFERDESC desc{};
        desc.dwSize = random() % 4 == 0 ? sizes[random() % 7] : sizeof desc;
        desc.dwFlags = random() % 2 == 0 ? random() : DSBCAPS_CTRLVOLUME;
        desc.dwBufferBytes = random() % 3 == 0 ? byteCounts[random() % 8] : 4800;
        desc.lpwfxFormat = random() % 8 == 0 ? nullptr : &format.Format;

        IDirectSoundBuffer* buffer = nullptr;
        const HRESULT result = ds_->CreateSoundBuffer(&desc, &buffer, nullptr);
        if (result == DS_OK) {
            ASSERT_NE(buffer, nullptr);
            ++accepted;
            EXPECT_EQ(buffer->Release(), 0u);
        } else {
            EXPECT_EQ(buffer, nullptr) << "a refused description left an object behind";
            EXPECT_LT(result, 0) << "refusals are errors";
        }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_EQ(ds_->CreateSoundBuffer(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
}

TEST_F(DirectObjects, TheLargestBufferIsMadeOrRefusedForWantOfMemory) {
    // Mono 8-bit, so that the odd size is a whole number of frames.
    WAVEFORMATEX format = Stereo16();
    format.nChannels = 1;
    format.wBitsPerSample = 8;
    format.nBlockAlign = 1;
    format.nAvgBytesPerSec = 48000;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_CTRLVOLUME;
    desc.dwBufferBytes = 0x0FFFFFFF;
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    const HRESULT result = ds_->CreateSoundBuffer(&desc, &buffer, nullptr);
    ASSERT_TRUE(result == DS_OK || result == DSERR_OUTOFMEMORY) << std::hex << result;
    if (result != DS_OK) return;
    void* p1 = nullptr;
    DWORD n1 = 0;
    ASSERT_EQ(buffer->Lock(0x0FFFFFF0, 16, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    static_cast<uint8_t*>(p1)[n1 - 1] = 1;
    EXPECT_EQ(buffer->Unlock(p1, n1, nullptr, 0), DS_OK);
    EXPECT_EQ(buffer->Release(), 0u);
}

// The output goes away mid-stream: the library restores the buffer on the
// next refused lock or play, and block events flow again.
TEST(LostOutput, PlaybackGoesOnAfterRestore) {
    DiskFile file(1);
    EventFd blockEvent;
    EventFd stopEvent;
    auto sound = OpenDevice({2, 16, 48000, 0});
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(sound->CreateStreamingBuffer(kBlocks * kBlockBytes, kBlockBytes, blockEvent.Handle(),
                                           stopEvent.Handle(), 2, 16, 16, 48000, 0),
              1);
    ASSERT_EQ(sound->PlayStreamingBuffer(), 1);
    ASSERT_GT(blockEvent.Take(2000), 0u);

    IMivoDeviceHooks* hooks = nullptr;
    ASSERT_EQ(
        sound->DirectSound->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)),
        DS_OK);
    ASSERT_EQ(hooks->SimulateDeviceLoss(0), DS_OK);
    hooks->Release();

    std::vector<uint8_t> tone(kBlockBytes, 0x20);
    EXPECT_TRUE(FillBlock(*sound, 1, tone.data(), kBlockBytes));  // restores, then locks
    EXPECT_EQ(sound->PlayStreamingBuffer(), 1);
    blockEvent.Take(0);
    EXPECT_GT(blockEvent.Take(2000), 0u) << "no block event after the restore";
    EXPECT_EQ(sound->StopStreamingBuffer(), 1);
}

// Stops this whole process for `ms`, as a descheduled one is, from a child
// that sends the signals; returns once the process runs again.
void StallThisProcess(int ms) {
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls in the child of a threaded process.
        kill(parent, SIGSTOP);
        const timespec pause{ms / 1000, (ms % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
        kill(parent, SIGCONT);
        _exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

TEST(Stall, AfterTheProcessStallsPlaybackGoesOnWhereItStopped) {
    // 20 ms blocks in a one-second buffer, so that how far the cursor moved
    // is never ambiguous.
    constexpr uint32_t kStallBlockBytes = 3840;
    constexpr uint32_t kStallBufferBytes = 50 * kStallBlockBytes;
    DiskFile file(-1);  // at the pace of real time, as a sound card takes it
    EventFd blockEvent;
    EventFd stopEvent;
    auto sound = OpenDevice({2, 16, 48000, 0});
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(sound->CreateStreamingBuffer(kStallBufferBytes, kStallBlockBytes, blockEvent.Handle(),
                                           stopEvent.Handle(), 2, 16, 16, 48000, 0),
              1);
    constexpr auto kStall = std::chrono::milliseconds(500);
    ASSERT_EQ(sound->PlayStreamingBuffer(), 1);
    ASSERT_GT(blockEvent.Take(1000), 0u);
    uint32_t before = 0;
    ASSERT_EQ(sound->GetStreamingBufferPositions(&before, nullptr), 1);
    blockEvent.Take();
    const auto start = std::chrono::steady_clock::now();

    StallThisProcess(static_cast<int>(kStall.count()));
    // Nothing ran during the stall, the client included: the next event
    // ends a block played while the process ran, not one that played unseen.
    ASSERT_GT(blockEvent.Take(1000), 0u);
    uint32_t after = 0;
    ASSERT_EQ(sound->GetStreamingBufferPositions(&after, nullptr), 1);
    const auto ran = std::chrono::steady_clock::now() - start - kStall;
    const uint32_t moved = (after + kStallBufferBytes - before) % kStallBufferBytes;
    // At most what the process ran for, and the block then playing; a cursor
    // that caught up moves on by the stall or by as much as was mixed ahead.
    const auto ranBytes = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(ran).count() * 192 / 1000);
    EXPECT_LT(moved, ranBytes + 2 * kStallBlockBytes) << "the cursor caught up on the stall";
    EXPECT_EQ(sound->StopStreamingBuffer(), 1);
}

}  // namespace
}  // namespace device_test

// Device objects of one process on the test backend: those on one output
// share its engine (one stream, one mix), those on others do not, and a
// loss of the output reaches every device on it while one reopen serves all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "event_fd.h"
#include "objects/sound_device.h"
#include "output/test_output.h"

namespace mivo_dsound {
namespace {

using mivo_support::EventFd;

constexpr DWORD kBlockFrames = 480;  // 10 ms at 48 kHz
constexpr DWORD kBlocks = 4;
constexpr DWORD kFrameBytes = 4;

HWND Window() {
    static int window = 0;
    return reinterpret_cast<HWND>(&window);
}

// A device object streaming a constant level on one output, with an event
// at each block end.
struct Client {
    IDirectSound* device = nullptr;
    IDirectSoundBuffer* buffer = nullptr;
    EventFd block;

    Client(const std::shared_ptr<TestBackend>& backend, const std::string& output, int16_t level) {
        SoundDevice* created = nullptr;
        EXPECT_EQ(SoundDevice::Create(backend, OutputInfo{output, output, 2}, &created), DS_OK);
        device = created;
        if (device == nullptr) return;
        EXPECT_EQ(device->SetCooperativeLevel(Window(), DSSCL_PRIORITY), DS_OK);
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 48000 * kFrameBytes, kFrameBytes, 16, 0};
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2;
        desc.dwBufferBytes = kBlocks * kBlockFrames * kFrameBytes;
        desc.lpwfxFormat = &format;
        EXPECT_EQ(device->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
        IDirectSoundNotify* notify = nullptr;
        EXPECT_EQ(buffer->QueryInterface(kIidDirectSoundNotify, reinterpret_cast<void**>(&notify)),
                  DS_OK);
        DSBPOSITIONNOTIFY positions[kBlocks];
        for (DWORD i = 0; i < kBlocks; ++i) {
            positions[i] = {(i + 1) * kBlockFrames * kFrameBytes - 1, block.Handle()};
        }
        EXPECT_EQ(notify->SetNotificationPositions(kBlocks, positions), DS_OK);
        notify->Release();
        void* data = nullptr;
        DWORD bytes = 0;
        EXPECT_EQ(buffer->Lock(0, 0, &data, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
        std::vector<int16_t> samples(bytes / sizeof(int16_t), level);
        std::memcpy(data, samples.data(), bytes);
        EXPECT_EQ(buffer->Unlock(data, bytes, nullptr, 0), DS_OK);
        EXPECT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    }
    ~Client() {
        if (buffer != nullptr) {
            EXPECT_EQ(buffer->Release(), 0u);
        }
        if (device != nullptr) {
            EXPECT_EQ(device->Release(), 0u);
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
};

// The last frame an output played, as 16-bit samples.
std::vector<int16_t> LastFrame(TestBackend& backend, const std::string& output) {
    const std::vector<uint8_t>& played = backend.Played(output);
    std::vector<int16_t> frame(2);
    if (played.size() >= kFrameBytes) {
        std::memcpy(frame.data(), played.data() + played.size() - kFrameBytes, kFrameBytes);
    }
    return frame;
}

struct Placement {
    std::string output;
    int16_t level;
};

struct SharingCase {
    const char* name;
    std::vector<Placement> devices;
    bool releaseFirst;  // the first device goes while the others play on
    std::map<std::string, int16_t> heard;
    uint32_t opens;
};

TEST(SharedEngine, DevicesOnAnOutputShareOneStreamAndOneMix) {
    const SharingCase cases[] = {
        {"TwoOnOneOutput", {{"", 1000}, {"", 2000}}, false, {{"", 3000}}, 1},
        {"OneReleasedWhileTheOtherPlays", {{"", 1000}, {"", 2000}}, true, {{"", 2000}}, 1},
        {"TwoOutputs", {{"a", 1000}, {"b", 2000}}, false, {{"a", 1000}, {"b", 2000}}, 2},
        {"ThreeOnOneAndOneElsewhere",
         {{"a", 1000}, {"a", 2000}, {"a", 4000}, {"b", 8000}},
         true,
         {{"a", 6000}, {"b", 8000}},
         2},
    };
    for (const SharingCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto backend = std::make_shared<TestBackend>();
        backend->SetOutputs({{"a", "A", 2}, {"b", "B", 2}});
        std::vector<std::unique_ptr<Client>> clients;
        for (const Placement& p : c.devices) {
            clients.push_back(std::make_unique<Client>(backend, p.output, p.level));
        }
        backend->Play(uint64_t{kBlocks} * kBlockFrames);
        if (c.releaseFirst) clients.front().reset();
        for (auto& client : clients) {
            if (client) client->block.Take();
        }
        backend->Play(uint64_t{2} * kBlocks * kBlockFrames);
        EXPECT_EQ(backend->Opens(), c.opens);
        for (const auto& [output, level] : c.heard) {
            EXPECT_EQ(LastFrame(*backend, output), (std::vector<int16_t>{level, level})) << output;
        }
        for (auto& client : clients) {
            if (client) {
                EXPECT_EQ(client->block.Take(), 2 * kBlocks);
            }
        }
    }
}

TEST(SharedEngine, OneRestoreReopensALostOutputForEveryDeviceOnIt) {
    auto backend = std::make_shared<TestBackend>();
    std::vector<std::unique_ptr<Client>> clients;
    for (const int16_t level : {int16_t{1000}, int16_t{2000}, int16_t{4000}}) {
        clients.push_back(std::make_unique<Client>(backend, "", level));
    }
    backend->Play(kBlockFrames);
    backend->Lose(1);
    for (auto& client : clients) {
        DWORD status = 0;
        ASSERT_EQ(client->buffer->GetStatus(&status), DS_OK);
        EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
    }
    EXPECT_EQ(clients[0]->buffer->Restore(), DSERR_BUFFERLOST);  // still gone
    EXPECT_EQ(clients[0]->buffer->Restore(), DS_OK);
    EXPECT_EQ(backend->Opens(), 2u);
    DWORD status = 0;
    ASSERT_EQ(clients[1]->buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, DSBSTATUS_BUFFERLOST) << "a device restores its own buffers";
    for (size_t i = 1; i < clients.size(); ++i) {
        EXPECT_EQ(clients[i]->buffer->Restore(), DS_OK);
    }
    EXPECT_EQ(backend->Opens(), 2u) << "the output reopened once";
    for (auto& client : clients) ASSERT_EQ(client->buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    backend->Play(uint64_t{kBlocks} * kBlockFrames);
    EXPECT_EQ(LastFrame(*backend, ""), (std::vector<int16_t>{7000, 7000}));
}

TEST(SharedEngine, DevicesComeAndGoFromAnotherThreadWhileTheEngineMixes) {
    auto backend = std::make_shared<TestBackend>();
    Client steady(backend, "", 1000);
    std::thread joiner([&backend] {
        for (int i = 0; i < 20; ++i) Client passing(backend, "", 2000);
    });
    uint64_t played = 0;
    for (; played < uint64_t{200} * kBlockFrames; played += kBlockFrames / 2) {
        backend->Play(kBlockFrames / 2);
    }
    joiner.join();
    EXPECT_EQ(backend->Opens(), 1u);
    EXPECT_EQ(steady.block.Take(), played / kBlockFrames);
}

}  // namespace
}  // namespace mivo_dsound

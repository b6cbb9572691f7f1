// Drives mivo.dll through a real DirectSound (Wine's, in CI) the way a
// Windows application does: a message-only window, both cooperative levels,
// the primary buffer, and a four-block streaming buffer refilled with a
// 440 Hz sine as its block event fires. The audio goes to the default output,
// where the CI step captures and measures it.
//
// Every result is printed. The exit status is the number of unexpected ones
// (capped), so any surprise fails the run.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mivo.h"
#include "mivo_dsound.h"

namespace {

// The tone that the capture checker expects; keep in step with the
// arguments that scripts/windows-wine-test.sh passes to it.
constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr uint32_t kFrameBytes = kChannels * 2;
constexpr uint32_t kBlockFrames = 4800;  // 100 ms
constexpr uint32_t kBlockBytes = kBlockFrames * kFrameBytes;
constexpr uint32_t kBlocks = 4;
constexpr uint32_t kBufferBytes = kBlockBytes * kBlocks;
constexpr uint32_t kToneBlocks = 30;  // 3 s
constexpr uint32_t kLoudBlocks = 20;  // the last second plays at kQuietVolume
// Stop only after two blocks of silence: the play cursor runs ahead of what
// has left the device, and Stop drops what is still queued there.
constexpr uint32_t kPlayedBlocks = kToneBlocks + 2;
constexpr int32_t kQuietVolume = -600;
constexpr double kFrequency = 440.0;
constexpr double kAmplitude = 16000.0;
constexpr DWORD kEventWaitMs = 2000;  // a bound, not an expectation
constexpr double kPi = 3.14159265358979323846;

// DSDEVID_DefaultPlayback, from mivo's header so that no GUID library is needed.
const GUID kDefaultPlayback = kDefaultPlaybackDevice;
// No device has this identifier.
const GUID kNoSuchDevice = {
    0x6d69766f, 0x0000, 0x0000, {0x6e, 0x6f, 0x20, 0x73, 0x75, 0x63, 0x68, 0x00}};

int unexpected = 0;

void Expect(const char* what, long long got, long long expected) {
    const bool ok = got == expected;
    std::printf("%-44s %lld%s", what, got, ok ? "\n" : "");
    if (!ok) {
        std::printf("   UNEXPECTED, wanted %lld\n", expected);
        ++unexpected;
    }
    std::fflush(stdout);
}

void Note(const char* what, long long value) {
    std::printf("%-44s %lld (recorded)\n", what, value);
    std::fflush(stdout);
}

// The version resource of mivo.dll as the system reads it.
void CheckVersionResource() {
    char path[MAX_PATH] = {};
    HMODULE library = GetModuleHandleA("mivo.dll");
    if (library == nullptr || GetModuleFileNameA(library, path, MAX_PATH) == 0) {
        Expect("mivo.dll found in the process", 0, 1);
        return;
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedBytes = 0;
    char* name = nullptr;
    UINT nameBytes = 0;
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedBytes) ||
        fixed == nullptr ||
        !VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductName",
                        reinterpret_cast<void**>(&name), &nameBytes)) {
        Expect("mivo.dll version resource readable", 0, 1);
        return;
    }
    Expect("file version 2.3 (major << 16 | minor)", fixed->dwFileVersionMS, 0x00020003);
    Expect("file version 0.4 (build << 16 | revision)", fixed->dwFileVersionLS, 0x00000004);
    Expect("product version 2.3", fixed->dwProductVersionMS, 0x00020003);
    Expect("product version 0.4", fixed->dwProductVersionLS, 0x00000004);
    Expect("product name is mivo", std::strcmp(name, "mivo") == 0 ? 1 : 0, 1);
}

bool SoundLibraryLoaded() { return GetModuleHandleA("dsound.dll") != nullptr; }

// A sine computed from the absolute frame number, so that the phase runs on
// across blocks exactly as one continuous tone.
class Tone {
public:
    void Write(void* data, uint32_t bytes, bool silent) {
        auto* samples = static_cast<int16_t*>(data);
        const uint32_t frames = bytes / kFrameBytes;
        for (uint32_t i = 0; i < frames; ++i) {
            int16_t value = 0;
            if (!silent) {
                const double phase = 2.0 * kPi * kFrequency * static_cast<double>(frame_) / kRate;
                value = static_cast<int16_t>(std::lround(kAmplitude * std::sin(phase)));
                ++frame_;
            }
            for (int c = 0; c < kChannels; ++c) samples[i * kChannels + c] = value;
        }
    }

private:
    uint64_t frame_ = 0;
};

// Locks block `block`, fills it and unlocks it; false on any failure.
bool FillBlock(CdsObject& sound, uint32_t block, Tone& tone, bool silent) {
    void* data = nullptr;
    uint32_t bytes = 0;
    if (sound.LockStreamingBuffer(block, &data, &bytes) != 1 || data == nullptr ||
        bytes != kBlockBytes) {
        return false;
    }
    tone.Write(data, bytes, silent);
    return sound.UnlockStreamingBuffer(block) == 1;
}

// Plays the tone: refills each block once the play cursor has left it, and
// turns the volume down for the last second. Returns the number of blocks
// whose play was seen to complete.
uint32_t Stream(CdsObject& sound, HANDLE blockEvent, Tone& tone) {
    uint32_t written = kBlocks;  // blocks of tone handed over so far
    uint32_t completed = 0;
    uint32_t nextRefill = 1;
    bool cursorsOk = true;
    bool lockOk = true;
    uint32_t events = 0;
    // Plenty for 3 s of 100 ms blocks; only a stuck loop reaches it.
    for (uint32_t round = 0; round < 10 * kPlayedBlocks && completed < kPlayedBlocks; ++round) {
        if (WaitForSingleObject(blockEvent, kEventWaitMs) != WAIT_OBJECT_0) {
            Expect("block event fired within 2 s", 0, 1);
            break;
        }
        ++events;
        uint32_t play = 0xFFFFFFFFu;
        uint32_t write = 0xFFFFFFFFu;
        if (sound.GetStreamingBufferPositions(&play, &write) != 1 || play >= kBufferBytes ||
            write >= kBufferBytes) {
            cursorsOk = false;
            break;
        }
        // All blocks share one event, and two block ends may arrive as one
        // wake-up, so the play cursor says which blocks are done.
        const uint32_t playing = play / kBlockBytes + 1;
        while (nextRefill != playing && completed < kPlayedBlocks) {
            const bool silent = written >= kToneBlocks;
            lockOk = FillBlock(sound, nextRefill, tone, silent) && lockOk;
            if (!silent) ++written;
            ++completed;
            nextRefill = nextRefill % kBlocks + 1;
            if (completed == kLoudBlocks) {
                Expect("SetStreamingBufferVolume(-600)",
                       sound.SetStreamingBufferVolume(kQuietVolume), 1);
                int32_t volume = 1;
                int32_t maximum = 1;
                int32_t minimum = 1;
                Expect("GetStreamingBufferVolume",
                       sound.GetStreamingBufferVolume(&volume, &maximum, &minimum), 1);
                Expect("  volume", volume, kQuietVolume);
                Expect("  maximum", maximum, 0);
                Expect("  minimum", minimum, -10000);
            }
        }
    }
    Note("block event wake-ups", events);
    Expect("cursors inside the buffer on every wake-up", cursorsOk ? 1 : 0, 1);
    Expect("every refill locked, filled and unlocked", lockOk ? 1 : 0, 1);
    Expect("tone blocks handed over", written, kToneBlocks);
    return completed;
}

void RunFirstObject(CdsObject& sound, HANDLE blockEvent, HANDLE stopEvent) {
    Expect("SetApplicationMode(priority)", sound.SetApplicationMode(CdsModePriority), 1);
    Expect("SetApplicationMode(exclusive)", sound.SetApplicationMode(CdsModeExclusive), 1);
    Expect("  ApplicationMode", sound.ApplicationMode, CdsModeExclusive);

    int32_t speakers = -1;
    Expect("GetNumberOfSystemSpeakerConfig", sound.GetNumberOfSystemSpeakerConfig(&speakers), 1);
    // The null sink that CI plays into is stereo.
    Expect("  speakers", speakers, 2);

    Expect("CreatePrimaryBuffer(2 ch, 16 bit, 48 kHz)",
           sound.CreatePrimaryBuffer(2, 16, 16, kRate, 0), 1);
    Expect("  PrimaryBufferCreated", sound.PrimaryBufferCreated, 1);

    // Whether a stereo device takes a six-channel hardware format is the
    // platform's call; either way the library must leave a consistent state.
    const int32_t six = sound.CreatePrimaryBuffer(6, 16, 16, kRate, 0);
    Note("CreatePrimaryBuffer(6 ch extensible)", six);
    Expect("  PrimaryBufferCreated matches the result", sound.PrimaryBufferCreated, six);
    Expect("  PrimaryBuffer held only on success", sound.PrimaryBuffer != nullptr ? 1 : 0, six);
    // Back to the sink's own format, so that the capture is the PCM written.
    Expect("CreatePrimaryBuffer(2 ch) again", sound.CreatePrimaryBuffer(2, 16, 16, kRate, 0), 1);

    Expect("CreateStreamingBuffer(4 blocks, both events)",
           sound.CreateStreamingBuffer(kBufferBytes, kBlockBytes, blockEvent, stopEvent, kChannels,
                                       16, 16, kRate, 0),
           1);
    Expect("  BlockCount", sound.BlockCount, kBlocks);
    Expect("  notification interface held", sound.StreamingNotify != nullptr ? 1 : 0, 1);

    Tone tone;
    bool filled = true;
    for (uint32_t block = 1; block <= kBlocks; ++block) {
        filled = FillBlock(sound, block, tone, false) && filled;
    }
    Expect("lock, fill, unlock blocks 1 to 4", filled ? 1 : 0, 1);

    uint32_t play = 1;
    uint32_t write = 1;
    Expect("GetStreamingBufferPositions before play",
           sound.GetStreamingBufferPositions(&play, &write), 1);
    Expect("  play cursor", play, 0);
    Expect("GetStreamingBufferPositions(null, null)",
           sound.GetStreamingBufferPositions(nullptr, nullptr), 1);

    Expect("PlayStreamingBuffer", sound.PlayStreamingBuffer(), 1);
    Expect("blocks played through", Stream(sound, blockEvent, tone), kPlayedBlocks);

    ResetEvent(stopEvent);
    Expect("StopStreamingBuffer", sound.StopStreamingBuffer(), 1);
    Expect("stop event fired",
           WaitForSingleObject(stopEvent, kEventWaitMs) == WAIT_OBJECT_0 ? 1 : 0, 1);

    Expect("ResetStreamingBuffer", sound.ResetStreamingBuffer(), 1);
    play = 1;
    Expect("GetStreamingBufferPositions after reset",
           sound.GetStreamingBufferPositions(&play, nullptr), 1);
    Expect("  play cursor", play, 0);
    Expect("SetStreamingBufferPosition(3)", sound.SetStreamingBufferPosition(3), 1);
    Expect("GetStreamingBufferPositions", sound.GetStreamingBufferPositions(&play, nullptr), 1);
    Expect("  play cursor", play, 2 * kBlockBytes);

    sound.RemoveStreamingBuffer();
    Expect("RemoveStreamingBuffer: buffer released", sound.StreamingBuffer == nullptr ? 1 : 0, 1);
    sound.RemovePrimaryBuffer();
    Expect("RemovePrimaryBuffer: buffer released", sound.PrimaryBuffer == nullptr ? 1 : 0, 1);
}

// The second object keeps working after the first one is destroyed: the
// platform library must still be loaded under it.
void RunSecondObject(CdsObject& sound) {
    Expect("second: SetApplicationMode(priority)", sound.SetApplicationMode(CdsModePriority), 1);
    Expect("second: CreatePrimaryBuffer(2 ch)", sound.CreatePrimaryBuffer(2, 16, 16, kRate, 0), 1);
    Expect("second: CreateStreamingBuffer(no events)",
           sound.CreateStreamingBuffer(kBufferBytes, kBlockBytes, nullptr, nullptr, kChannels, 16,
                                       16, kRate, 0),
           1);
    Tone silence;
    Expect("second: lock, fill, unlock block 2", FillBlock(sound, 2, silence, true) ? 1 : 0, 1);
    Expect("second: SetStreamingBufferVolume(-10000)", sound.SetStreamingBufferVolume(-10000), 1);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    CheckVersionResource();
    HWND window = CreateWindowExA(0, "STATIC", "mivo wine client", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr);
    Expect("message-only window created", window != nullptr ? 1 : 0, 1);
    HANDLE blockEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (window == nullptr || blockEvent == nullptr || stopEvent == nullptr) return 1;

    {
        CdsObject windowless(nullptr, nullptr);
        Expect("null window: InitStatus", windowless.InitStatus, CdsStatusNoWindow);
        Expect("  InitializationSuccessful", windowless.InitializationSuccessful(), 0);
        Expect("  SetApplicationMode refused", windowless.SetApplicationMode(CdsModePriority), 0);
    }
    Expect("dsound.dll not loaded by it", SoundLibraryLoaded() ? 1 : 0, 0);
    auto* first = new CdsObject(window, nullptr);
    Expect("first: InitStatus", first->InitStatus, CdsStatusReady);
    Expect("first: InitializationSuccessful", first->InitializationSuccessful(), 1);
    if (first->InitializationSuccessful() != 1) {
        std::printf("no DirectSound device: is the sound server running?\n");
        return 1;
    }
    Expect("dsound.dll loaded by the first object", SoundLibraryLoaded() ? 1 : 0, 1);
    RunFirstObject(*first, blockEvent, stopEvent);

    auto* second = new CdsObject(window, &kDefaultPlayback);
    Expect("second: InitStatus (default playback GUID)", second->InitStatus, CdsStatusReady);
    Expect("second: DeviceGuid is the pointer given",
           second->DeviceGuid == &kDefaultPlayback ? 1 : 0, 1);
    delete first;
    Expect("dsound.dll still loaded for the second", SoundLibraryLoaded() ? 1 : 0, 1);
    RunSecondObject(*second);
    delete second;
    // Wine keeps dsound.dll mapped after its last FreeLibrary, so whether it
    // is gone says nothing about the library here.
    Note("dsound.dll still mapped after the last object", SoundLibraryLoaded() ? 1 : 0);

    {
        CdsObject missing(window, &kNoSuchDevice);
        Expect("unknown device GUID: InitStatus", missing.InitStatus, CdsStatusNoDevice);
        Expect("  InitializationSuccessful", missing.InitializationSuccessful(), 0);
        Expect("  SetApplicationMode refused", missing.SetApplicationMode(CdsModePriority), 0);
    }
    {
        CdsObject again(window, nullptr);
        Expect("after all were destroyed: InitStatus", again.InitStatus, CdsStatusReady);
    }

    CloseHandle(blockEvent);
    CloseHandle(stopEvent);
    DestroyWindow(window);
    std::printf("%d unexpected result(s)\n", unexpected);
    return unexpected > 100 ? 100 : unexpected;
}

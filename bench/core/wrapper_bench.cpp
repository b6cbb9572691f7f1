// What CdsObject adds to each streaming call: the same platform calls made
// through the library and made directly, over a platform that does nothing,
// so that only the wrapper's own work differs.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "mivo.h"
#include "null_platform.h"

namespace {

constexpr uint32_t kBlockBytes = 1920;  // 10 ms of 48 kHz stereo 16-bit

struct Streaming {
    Streaming() : object(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(1)), nullptr) {
        object.CreatePrimaryBuffer(2, 16, 16, 48000, 0);
        object.CreateStreamingBuffer(4 * kBlockBytes, kBlockBytes, nullptr, nullptr, 2, 16, 16,
                                     48000, 0);
    }
    CdsObject object;
};

void LockUnlockThroughObject(benchmark::State& state) {
    Streaming s;
    uint32_t block = 0;
    for ([[maybe_unused]] auto _ : state) {
        block = block % 4 + 1;
        void* data = nullptr;
        uint32_t bytes = 0;
        s.object.LockStreamingBuffer(block, &data, &bytes);
        benchmark::DoNotOptimize(data);
        s.object.UnlockStreamingBuffer(block);
    }
}

void LockUnlockDirect(benchmark::State& state) {
    Streaming s;
    IDirectSoundBuffer* buffer = s.object.StreamingBuffer;
    uint32_t block = 0;
    for ([[maybe_unused]] auto _ : state) {
        block = block % 4 + 1;
        void* data = nullptr;
        DWORD bytes = 0;
        buffer->Lock((block - 1) * kBlockBytes, kBlockBytes, &data, &bytes, nullptr, nullptr, 0);
        benchmark::DoNotOptimize(data);
        buffer->Unlock(data, bytes, nullptr, 0);
    }
}

void PlayStopThroughObject(benchmark::State& state) {
    Streaming s;
    for ([[maybe_unused]] auto _ : state) {
        s.object.PlayStreamingBuffer();
        s.object.StopStreamingBuffer();
    }
}

void PlayStopDirect(benchmark::State& state) {
    Streaming s;
    IDirectSoundBuffer* buffer = s.object.StreamingBuffer;
    for ([[maybe_unused]] auto _ : state) {
        buffer->Play(0, 0, DSBPLAY_LOOPING);
        buffer->Stop();
    }
}

void CursorsThroughObject(benchmark::State& state) {
    Streaming s;
    for ([[maybe_unused]] auto _ : state) {
        uint32_t play = 0;
        uint32_t write = 0;
        s.object.GetStreamingBufferPositions(&play, &write);
        benchmark::DoNotOptimize(play + write);
    }
}

void CursorsDirect(benchmark::State& state) {
    Streaming s;
    IDirectSoundBuffer* buffer = s.object.StreamingBuffer;
    for ([[maybe_unused]] auto _ : state) {
        DWORD play = 0;
        DWORD write = 0;
        buffer->GetCurrentPosition(&play, &write);
        benchmark::DoNotOptimize(play + write);
    }
}

void VolumeThroughObject(benchmark::State& state) {
    Streaming s;
    int32_t volume = 0;
    for ([[maybe_unused]] auto _ : state) {
        s.object.SetStreamingBufferVolume(volume);
        volume = volume == 0 ? -600 : 0;
    }
}

void VolumeDirect(benchmark::State& state) {
    Streaming s;
    IDirectSoundBuffer* buffer = s.object.StreamingBuffer;
    LONG volume = 0;
    for ([[maybe_unused]] auto _ : state) {
        buffer->SetVolume(volume);
        volume = volume == 0 ? -600 : 0;
    }
}

}  // namespace

BENCHMARK(LockUnlockThroughObject);
BENCHMARK(LockUnlockDirect);
BENCHMARK(PlayStopThroughObject);
BENCHMARK(PlayStopDirect);
BENCHMARK(CursorsThroughObject);
BENCHMARK(CursorsDirect);
BENCHMARK(VolumeThroughObject);
BENCHMARK(VolumeDirect);
BENCHMARK_MAIN();

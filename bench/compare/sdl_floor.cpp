// The floor: the same workload written straight to SDL2 with its audio
// callback, one block per callback, no DirectSound in between. A callback
// is this program's block event: it fires when the output wants the next
// block, and it refills it on the spot. With several streams, each is an
// SDL2 device of its own (with its own audio thread, as SDL2 has it);
// device 0 carries the tone, the others play silence.
//
//   mivo-compare-sdl BLOCK_MS SECONDS LOG_FILE [STREAMS]
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform_shim.h"
#include "run_log.h"
#include "workload.h"

namespace {

using namespace compare;

// What every device's callback shares: the end of the run is the last
// device's end.
struct Shared {
    uint32_t toneBlocks = 0;
    uint32_t blockFrames = 0;
    uint32_t devices = 0;
    std::atomic<uint32_t> ended{0};
    SDL_sem* finished = nullptr;
};

struct Stream {
    Shared* shared = nullptr;
    Tone tone;
    RunLog* log = nullptr;   // the marked device's alone
    uint32_t callbacks = 0;  // the audio thread's alone
    std::atomic<bool> oddSize{false};
    SDL_AudioDeviceID id = 0;

    // Callbacks that stand for a block event of the run: one per block,
    // beyond the first buffer's worth.
    uint32_t Events() const {
        const uint32_t last = shared->toneBlocks + kTailBlocks + kBlocksPerBuffer;
        return std::min(callbacks, last) - std::min(callbacks, kBlocksPerBuffer);
    }
};

void Render(void* context, Uint8* out, int bytes) {
    auto& s = *static_cast<Stream*>(context);
    const Shared& shared = *s.shared;
    const int64_t woke = NowNs();
    const uint32_t frames = static_cast<uint32_t>(bytes) / kFrameBytes;
    if (frames != shared.blockFrames) s.oddSize = true;
    ++s.callbacks;
    // Callback n hands over block n. The DirectSound clients write blocks 1
    // to 4 before playing and block n + 4 on the event of block n, so
    // callback n + 4 stands for the event of block n.
    if (s.log != nullptr && s.callbacks > kBlocksPerBuffer) {
        s.log->BlockDone(s.callbacks - kBlocksPerBuffer, woke, -1);
    }
    if (s.log != nullptr && s.callbacks <= shared.toneBlocks) {
        s.tone.Write(reinterpret_cast<int16_t*>(out), frames);
    } else {
        Tone::Silence(out, frames);
    }
    if (s.callbacks == shared.toneBlocks + kTailBlocks + kBlocksPerBuffer &&
        s.shared->ended.fetch_add(1) + 1 == shared.devices) {
        SDL_SemPost(s.shared->finished);
    }
}

bool Open(Stream& stream) {
    SDL_AudioSpec want{};
    want.freq = kRate;
    want.format = AUDIO_S16SYS;
    want.channels = kChannels;
    want.samples = static_cast<Uint16>(stream.shared->blockFrames);
    want.callback = Render;
    want.userdata = &stream;
    SDL_AudioSpec have{};
    stream.id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (stream.id == 0) std::fprintf(stderr, "SDL open: %s\n", SDL_GetError());
    return stream.id != 0;
}

int Run(const RunArguments& args) {
    RunLog log("sdl2", args.blockFrames, args.toneBlocks);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "SDL audio: %s\n", SDL_GetError());
        return 1;
    }
    Shared shared;
    shared.toneBlocks = args.toneBlocks;
    shared.blockFrames = args.blockFrames;
    shared.devices = args.streams;
    shared.finished = SDL_CreateSemaphore(0);
    std::vector<std::unique_ptr<Stream>> streams;
    bool opened = shared.finished != nullptr;
    for (uint32_t i = 0; i < args.streams && opened; ++i) {
        streams.push_back(std::make_unique<Stream>());
        streams.back()->shared = &shared;
        if (i == 0) streams.back()->log = &log;
        opened = Open(*streams.back());
    }
    bool ended = false;
    if (opened) {
        // A bound far beyond the run: only a stalled output reaches it.
        const auto bound =
            static_cast<Uint32>(args.toneBlocks * BlockMs(args.blockFrames) * 2 + 10000);
        log.Cpu().Start();
        // Unpausing is SDL2's Play; device 0, the one with the tone, goes first.
        log.PlayStarted(NowNs(), RealtimeNs());
        for (const auto& s : streams) SDL_PauseAudioDevice(s->id, 0);
        ended = SDL_SemWaitTimeout(shared.finished, bound) == 0;
        log.PlayEnded(NowNs());
        log.Cpu().Stop();
        if (!ended) log.Failure("the callbacks stopped before the end");
        // The last blocks of tone are still in the server: let them play out.
        SDL_Delay(static_cast<Uint32>(BlockMs(args.blockFrames) * (kBlocksPerBuffer + 2)));
    }
    uint64_t events = 0;
    for (const auto& s : streams) {
        if (s->id != 0) SDL_CloseAudioDevice(s->id);
        // Its audio thread has ended with the device.
        events += s->Events();
        if (s->oddSize) log.Failure("a callback asked for other than one block");
    }
    log.Events(args.streams, events);
    if (shared.finished != nullptr) SDL_DestroySemaphore(shared.finished);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (!opened) return 1;
    if (!log.Write(args.log)) {
        std::fprintf(stderr, "cannot write %s\n", args.log);
        return 1;
    }
    return ended ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    compare::RunArguments args;
    if (!compare::ParseRunArguments(argc, argv, args)) return 2;
    return Run(args);
}

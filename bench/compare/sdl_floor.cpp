// The floor: the same workload written straight to SDL2 with its audio
// callback, one block per callback, no DirectSound in between. A callback
// is this program's block event: it fires when the output wants the next
// block, and it refills it on the spot.
//
//   mivo-compare-sdl BLOCK_MS SECONDS LOG_FILE
#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform_shim.h"
#include "run_log.h"
#include "workload.h"

namespace {

using namespace compare;

struct Stream {
    Tone tone;
    RunLog* log = nullptr;
    uint32_t toneBlocks = 0;
    uint32_t blockFrames = 0;
    uint32_t callbacks = 0;  // the audio thread's alone
    SDL_sem* finished = nullptr;
    std::atomic<bool> oddSize{false};
};

void Render(void* context, Uint8* out, int bytes) {
    auto& s = *static_cast<Stream*>(context);
    const int64_t woke = NowNs();
    const uint32_t frames = static_cast<uint32_t>(bytes) / kFrameBytes;
    if (frames != s.blockFrames) s.oddSize = true;
    ++s.callbacks;
    // Callback n hands over block n. The DirectSound clients write blocks 1
    // to 4 before playing and block n + 4 on the event of block n, so
    // callback n + 4 stands for the event of block n.
    if (s.callbacks > kBlocksPerBuffer) s.log->BlockDone(s.callbacks - kBlocksPerBuffer, woke, -1);
    if (s.callbacks <= s.toneBlocks) {
        s.tone.Write(reinterpret_cast<int16_t*>(out), frames);
    } else {
        Tone::Silence(out, frames);
    }
    if (s.callbacks == s.toneBlocks + kTailBlocks + kBlocksPerBuffer) SDL_SemPost(s.finished);
}

int Run(uint32_t blockFrames, uint32_t toneBlocks, const std::string& logPath) {
    RunLog log("sdl2", blockFrames, toneBlocks);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "SDL audio: %s\n", SDL_GetError());
        return 1;
    }
    Stream stream;
    stream.log = &log;
    stream.toneBlocks = toneBlocks;
    stream.blockFrames = blockFrames;
    stream.finished = SDL_CreateSemaphore(0);

    SDL_AudioSpec want{};
    want.freq = kRate;
    want.format = AUDIO_S16SYS;
    want.channels = kChannels;
    want.samples = static_cast<Uint16>(stream.blockFrames);
    want.callback = Render;
    want.userdata = &stream;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0 || stream.finished == nullptr) {
        std::fprintf(stderr, "SDL open: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 1;
    }
    // A bound far beyond the run: only a stalled output reaches it.
    const auto bound = static_cast<Uint32>(toneBlocks * BlockMs(blockFrames) * 2 + 10000);
    log.Cpu().Start();
    log.PlayStarted(NowNs());
    SDL_PauseAudioDevice(id, 0);
    const bool ended = SDL_SemWaitTimeout(stream.finished, bound) == 0;
    log.PlayEnded(NowNs());
    log.Cpu().Stop();
    if (!ended) log.Failure("the callbacks stopped before the end");
    // The last blocks of tone are still in the server: let them play out.
    SDL_Delay(static_cast<Uint32>(BlockMs(blockFrames) * (kBlocksPerBuffer + 2)));
    SDL_CloseAudioDevice(id);
    if (stream.oddSize) log.Failure("a callback asked for other than one block");
    SDL_DestroySemaphore(stream.finished);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (!log.Write(logPath)) {
        std::fprintf(stderr, "cannot write %s\n", logPath.c_str());
        return 1;
    }
    return ended ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    compare::RunArguments args;
    if (!compare::ParseRunArguments(argc, argv, args)) return 2;
    return Run(args.blockFrames, args.toneBlocks, args.log);
}

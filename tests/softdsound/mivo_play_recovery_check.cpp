// mivo-play-recovery-check FAILING_RESTORES: streams a 1 s tone with
// PlayThrough on the software device and, a fifth of the way in, has the
// device's private hooks take the output away, failing the next
// FAILING_RESTORES attempts to restore it. Exits 0 when the whole tone was
// streamed after the loss, 1 when PlayThrough gave up (its message on
// stderr), 2 when the check itself could not run. Run by
// tests/softdsound/mivo_play_test.sh, with SDL_AUDIODRIVER=disk.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "mivo.h"
#include "mivo_dsound_hooks.h"
#include "pcm_source.h"
#include "stream_player.h"

namespace {

constexpr int kReadsBeforeLoss = 10;  // 20 ms blocks, 4 of them read up front

// Passes a source through, taking the output away while one of its blocks
// is being filled, as a sound server may at any moment.
class LosingSource final : public PcmSource {
public:
    LosingSource(PcmSource& inner, IMivoDeviceHooks& hooks, DWORD failingRestores)
        : inner_(inner), hooks_(hooks), failingRestores_(failingRestores) {}
    const PcmFormat& Format() const override { return inner_.Format(); }
    uint64_t TotalFrames() const override { return inner_.TotalFrames(); }
    size_t Read(uint8_t* out, size_t bytes) override {
        if (++reads_ == kReadsBeforeLoss)
            lost_ = hooks_.SimulateDeviceLoss(failingRestores_) == DS_OK;
        return inner_.Read(out, bytes);
    }
    bool Lost() const { return lost_; }

private:
    PcmSource& inner_;
    IMivoDeviceHooks& hooks_;
    DWORD failingRestores_;
    int reads_ = 0;
    bool lost_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mivo-play-recovery-check FAILING_RESTORES\n");
        return 2;
    }
    static int window = 0;
    CdsObject sound(reinterpret_cast<HWND>(&window), nullptr);
    void* hooks = nullptr;
    if (sound.InitializationSuccessful() == 0 ||
        sound.DirectSound->QueryInterface(kIidMivoDeviceHooks, &hooks) != DS_OK) {
        std::fprintf(stderr, "no software device with hooks to lose the output with\n");
        return 2;
    }
    auto* deviceHooks = static_cast<IMivoDeviceHooks*>(hooks);
    const std::unique_ptr<PcmSource> tone = MakeToneSource(1000, 1.0);
    LosingSource source(*tone, *deviceHooks,
                        static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
    uint64_t frames = 0;
    std::string error;
    const bool played = PlayThrough(sound, source, false, frames, error);
    deviceHooks->Release();
    if (!source.Lost()) {
        std::fprintf(stderr, "the output was never taken away\n");
        return 2;
    }
    if (!played) {
        std::fprintf(stderr, "mivo-play: %s\n", error.c_str());
        return 1;
    }
    if (frames != tone->TotalFrames()) {
        std::fprintf(stderr, "streamed %llu of %llu frames\n",
                     static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(tone->TotalFrames()));
        return 1;
    }
    return 0;
}

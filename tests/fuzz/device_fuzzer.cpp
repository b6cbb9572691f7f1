// libFuzzer target over the software device's own DirectSound objects, on
// the test backend's virtual clock: the input bytes choose buffer
// descriptions and formats, primary formats, Lock ranges and flags,
// notification tables, play, stop and position changes, time passing,
// stalls, lost outputs, and releases in any order. Any crash, leak or
// sanitizer finding fails, and so does a cursor outside its buffer.
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "objects/sound_device.h"
#include "output/test_output.h"

namespace {

using namespace mivo_dsound;

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    uint32_t Next() {
        uint32_t value = 0;
        for (int i = 0; i < 4 && at_ < size_; ++i) value = (value << 8) | data_[at_++];
        return value;
    }
    uint32_t Below(uint32_t bound) { return Next() % bound; }
    // Mostly a value from `likely`, sometimes anything at all.
    uint32_t Pick(std::initializer_list<uint32_t> likely) {
        const uint32_t choice = Below(static_cast<uint32_t>(likely.size()) + 1);
        return choice < likely.size() ? likely.begin()[choice] : Next();
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

WAVEFORMATEXTENSIBLE Format(Bytes& in) {
    WAVEFORMATEXTENSIBLE f{};
    const auto channels = static_cast<WORD>(in.Pick({1, 2, 6, 8}) & 0xFFFF);
    const auto bits = static_cast<WORD>(in.Pick({8, 16, 24, 32}) & 0xFFFF);
    const DWORD rate = in.Pick({8000, 22050, 44100, 48000, 96000});
    const bool extensible = in.Below(3) == 0;
    f.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    f.Format.nChannels = channels;
    f.Format.nSamplesPerSec = rate;
    f.Format.wBitsPerSample = bits;
    f.Format.nBlockAlign = static_cast<WORD>(uint32_t{channels} * bits / 8);
    f.Format.nAvgBytesPerSec = rate * f.Format.nBlockAlign;
    if (in.Below(8) == 0) f.Format.nBlockAlign = static_cast<WORD>(in.Next());
    if (extensible) {
        f.Format.cbSize = 22;
        f.Samples.wValidBitsPerSample = static_cast<WORD>(in.Pick({bits, 20, 0}));
        f.dwChannelMask = in.Pick({0x3, 0x4, 0x3F, 0x63F, 0, 0xFFFFFFFF});
        f.SubFormat = in.Below(8) == 0 ? kIidUnknown : kSubtypePcm;
    }
    return f;
}

struct Session {
    TestBackend* backend = nullptr;
    IDirectSound* device = nullptr;
    std::vector<IDirectSoundBuffer*> buffers;  // each holds one reference
    std::vector<IDirectSoundNotify*> notifies;
    int events[2] = {-1, -1};
};

void CreateBuffer(Session& s, Bytes& in) {
    WAVEFORMATEXTENSIBLE format = Format(in);
    DSBUFFERDESC desc{};
    desc.dwSize = in.Below(10) == 0 ? in.Next() : sizeof desc;
    desc.dwFlags =
        in.Pick({DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2,
                 DSBCAPS_PRIMARYBUFFER, DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLVOLUME,
                 DSBCAPS_CTRLPOSITIONNOTIFY});
    const bool primary = (desc.dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
    desc.dwBufferBytes = primary ? 0 : in.Pick({960, 3840, 4, 16000}) % (1u << 20);
    desc.lpwfxFormat = primary ? nullptr : &format.Format;
    IDirectSoundBuffer* buffer = nullptr;
    if (s.device->CreateSoundBuffer(&desc, &buffer, nullptr) == DS_OK) {
        Require(buffer != nullptr, "DS_OK without a buffer");
        s.buffers.push_back(buffer);
    }
}

void Notify(Session& s, Bytes& in, IDirectSoundBuffer* buffer) {
    IDirectSoundNotify* notify = nullptr;
    if (buffer->QueryInterface(kIidDirectSoundNotify, reinterpret_cast<void**>(&notify)) != DS_OK) {
        return;
    }
    std::vector<DSBPOSITIONNOTIFY> table(in.Below(6));
    for (auto& entry : table) {
        entry.dwOffset = in.Pick({0, 959, 1919, DSBPN_OFFSETSTOP});
        const int fd = s.events[in.Below(2)];
        entry.hEventNotify = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
    }
    notify->SetNotificationPositions(static_cast<DWORD>(table.size()), table.data());
    if (in.Below(2) == 0) {
        s.notifies.push_back(notify);
    } else {
        notify->Release();
    }
}

void LockAndWrite(Bytes& in, IDirectSoundBuffer* buffer) {
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    const DWORD offset = in.Pick({0, 960, 3836});
    const DWORD bytes = in.Pick({4, 960, 3840});
    const DWORD flags = in.Pick({0, DSBLOCK_FROMWRITECURSOR, DSBLOCK_ENTIREBUFFER});
    const bool second = in.Below(2) == 0;
    if (buffer->Lock(offset, bytes, &p1, &n1, second ? &p2 : nullptr, second ? &n2 : nullptr,
                     flags) != DS_OK) {
        return;
    }
    std::memset(p1, static_cast<int>(in.Below(256)), n1);
    if (p2 != nullptr) std::memset(p2, 0x11, n2);
    buffer->Unlock(p1, n1, p2, n2);
}

void CheckCursors(IDirectSoundBuffer* buffer) {
    DSBCAPS caps{};
    caps.dwSize = sizeof caps;
    DWORD play = 0;
    DWORD write = 0;
    if (buffer->GetCaps(&caps) != DS_OK || buffer->GetCurrentPosition(&play, &write) != DS_OK) {
        return;
    }
    if ((caps.dwFlags & DSBCAPS_PRIMARYBUFFER) != 0) return;
    Require(play < caps.dwBufferBytes && write < caps.dwBufferBytes, "cursor outside the buffer");
}

void Step(Session& s, Bytes& in) {
    IDirectSoundBuffer* buffer =
        s.buffers.empty() ? nullptr : s.buffers[in.Below(static_cast<uint32_t>(s.buffers.size()))];
    switch (in.Below(14)) {
        case 0: CreateBuffer(s, in); break;
        case 1: s.backend->Play(in.Below(4000)); break;
        case 2: s.backend->Stall(static_cast<int64_t>(in.Below(600)) * 1000000); break;
        case 3: s.backend->Lose(static_cast<int>(in.Below(3))); break;
        case 4: {
            if (!s.notifies.empty()) {
                s.notifies.back()->Release();
                s.notifies.pop_back();
            } else if (buffer != nullptr) {
                s.buffers.erase(std::find(s.buffers.begin(), s.buffers.end(), buffer));
                buffer->Release();
            }
            break;
        }
        default: break;
    }
    if (buffer == nullptr ||
        std::find(s.buffers.begin(), s.buffers.end(), buffer) == s.buffers.end()) {
        return;
    }
    switch (in.Below(10)) {
        case 0: buffer->Play(0, 0, in.Pick({DSBPLAY_LOOPING, 0})); break;
        case 1: buffer->Stop(); break;
        case 2: buffer->SetCurrentPosition(in.Pick({0, 960, 3839})); break;
        case 3:
            buffer->SetVolume(static_cast<LONG>(in.Pick({0, static_cast<uint32_t>(-600)})));
            break;
        case 4: LockAndWrite(in, buffer); break;
        case 5: Notify(s, in, buffer); break;
        case 6: {
            WAVEFORMATEXTENSIBLE format = Format(in);
            buffer->SetFormat(&format.Format);
            break;
        }
        case 7: buffer->Restore(); break;
        default: CheckCursors(buffer); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    Session s;
    TestBackend::Settings settings;
    settings.keepPlayed = false;
    settings.periodFrames = in.Pick({240, 1024, 64});
    settings.periodFrames = settings.periodFrames % 8177 + 16;
    auto backend = std::make_unique<TestBackend>(settings);
    s.backend = backend.get();
    SoundDevice* device = nullptr;
    if (SoundDevice::Create(std::move(backend), OutputInfo{}, &device) != DS_OK) return 0;
    s.device = device;
    static int window = 0;
    s.device->SetCooperativeLevel(reinterpret_cast<HWND>(&window), in.Pick({DSSCL_PRIORITY, 1}));
    s.events[0] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.events[1] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (int i = 0; i < 200 && in.More(); ++i) Step(s, in);
    // Whatever is left goes in an order the input chooses: the device last
    // or first, since every buffer holds its own reference to it.
    const bool deviceFirst = in.Below(2) == 0;
    if (deviceFirst) s.device->Release();
    for (IDirectSoundNotify* notify : s.notifies) notify->Release();
    for (IDirectSoundBuffer* buffer : s.buffers) buffer->Release();
    if (!deviceFirst) Require(s.device->Release() == 0, "the device outlived its last reference");
    close(s.events[0]);
    close(s.events[1]);
    return 0;
}

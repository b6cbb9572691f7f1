// The device's objects called directly: what they accept and refuse, their
// reference counts, and a lost output.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>

#include "disk_output.h"
#include "mivo_dsound.h"
#include "mivo_dsound_hooks.h"
#include "platform/platform.h"

extern "C" HRESULT DirectSoundCreate(const GUID* device, IDirectSound** out, IUnknown* outer);

namespace device_test {
namespace {

constexpr const GUID& kDefaultPlayback = kDefaultPlaybackDevice;
constexpr const GUID& kIidNotify = kIidDirectSoundNotify;
constexpr HRESULT kNoAggregation = CLASS_E_NOAGGREGATION;

HWND Window() {
    static int window = 0;
    return reinterpret_cast<HWND>(&window);
}

WAVEFORMATEXTENSIBLE Pcm(WORD channels, WORD bits, DWORD rate, bool extensible = false) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    f.Format.nChannels = channels;
    f.Format.nSamplesPerSec = rate;
    f.Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.Format.nAvgBytesPerSec = rate * f.Format.nBlockAlign;
    f.Format.wBitsPerSample = bits;
    if (extensible) {
        f.Format.cbSize = 22;
        f.Samples.wValidBitsPerSample = bits;
        f.dwChannelMask = channels == 6 ? 0x3F : 0x3;
        f.SubFormat = kSubtypePcm;
    }
    return f;
}

class DeviceObjects : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DirectSoundCreate(nullptr, &ds_, nullptr), DS_OK);
        ASSERT_NE(ds_, nullptr);
    }
    void TearDown() override {
        if (ds_ != nullptr) {
            EXPECT_EQ(ds_->Release(), 0u);
        }
    }

    IDirectSoundBuffer* Secondary(DWORD flags, DWORD bytes = 4800) {
        WAVEFORMATEXTENSIBLE format = Pcm(2, 16, 48000);
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = flags;
        desc.dwBufferBytes = bytes;
        desc.lpwfxFormat = &format.Format;
        IDirectSoundBuffer* buffer = nullptr;
        EXPECT_EQ(ds_->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
        return buffer;
    }

    IDirectSoundBuffer* Primary() {
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
        IDirectSoundBuffer* buffer = nullptr;
        EXPECT_EQ(ds_->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
        return buffer;
    }

    DiskFile file_{1};
    IDirectSound* ds_ = nullptr;
};

TEST(DirectSoundCreate, OpensOnlyTheDefaultOutput) {
    DiskFile file(1);
    const GUID other = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    IDirectSound* ds = nullptr;
    EXPECT_EQ(DirectSoundCreate(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(DirectSoundCreate(&other, &ds, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(ds, nullptr);
    EXPECT_EQ(DirectSoundCreate(nullptr, &ds, reinterpret_cast<IUnknown*>(&ds)), kNoAggregation);
    ASSERT_EQ(DirectSoundCreate(&kDefaultPlayback, &ds, nullptr), DS_OK);
    EXPECT_EQ(ds->Release(), 0u);
}

TEST(DirectSoundCreate, AnswersNoDriverWhenNoDriverWorks) {
    const char* saved = getenv("SDL_AUDIODRIVER");
    const std::string restore = saved != nullptr ? saved : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    IDirectSound* ds = nullptr;
    EXPECT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(ds, nullptr);
    setenv("SDL_AUDIODRIVER", restore.c_str(), 1);
}

TEST_F(DeviceObjects, CooperativeLevelNeedsAWindowAndAKnownLevel) {
    EXPECT_EQ(ds_->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    EXPECT_EQ(ds_->SetCooperativeLevel(Window(), 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(ds_->SetCooperativeLevel(Window(), 5), DSERR_INVALIDPARAM);
    for (DWORD level = DSSCL_NORMAL; level <= DSSCL_WRITEPRIMARY; ++level) {
        EXPECT_EQ(ds_->SetCooperativeLevel(Window(), level), DS_OK) << level;
    }
}

struct DescCase {
    const char* name;
    HRESULT expected;
    std::function<void(DSBUFFERDESC&, WAVEFORMATEXTENSIBLE&)> change;
};

void PrintTo(const DescCase& c, std::ostream* out) { *out << c.name; }

class Descriptions : public DeviceObjects, public ::testing::WithParamInterface<DescCase> {};

TEST_P(Descriptions, AreCheckedAsDirectSoundChecksThem) {
    WAVEFORMATEXTENSIBLE format = Pcm(2, 16, 48000);
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_CTRLVOLUME;
    desc.dwBufferBytes = 4800;
    desc.lpwfxFormat = &format.Format;
    GetParam().change(desc, format);
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(ds_->CreateSoundBuffer(&desc, &buffer, nullptr), GetParam().expected);
    EXPECT_EQ(buffer != nullptr, GetParam().expected == DS_OK);
    if (buffer != nullptr) buffer->Release();
}

const auto kPrimary = [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) {
    d.dwFlags = DSBCAPS_PRIMARYBUFFER;
    d.dwBufferBytes = 0;
    d.lpwfxFormat = nullptr;
};

INSTANTIATE_TEST_SUITE_P(
    Cases, Descriptions,
    ::testing::Values(
        DescCase{"Plain", DS_OK, [](DSBUFFERDESC&, WAVEFORMATEXTENSIBLE&) {}},
        DescCase{"OlderRecord", DS_OK,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) {
                     d.dwSize = offsetof(DSBUFFERDESC, guid3DAlgorithm);
                 }},
        DescCase{"SizeOfA32BitBuild", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwSize = 36; }},
        DescCase{"SizeZero", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwSize = 0; }},
        DescCase{"UnknownFlag", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwFlags |= 0x100000; }},
        DescCase{"InSoftware", DS_OK,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwFlags |= DSBCAPS_LOCSOFTWARE; }},
        DescCase{"InHardware", DSERR_UNSUPPORTED,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwFlags |= DSBCAPS_LOCHARDWARE; }},
        DescCase{"InHardwareAndSoftware", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) {
                     d.dwFlags |= DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE;
                 }},
        DescCase{"ThreeD", DSERR_UNSUPPORTED,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwFlags |= DSBCAPS_CTRL3D; }},
        DescCase{"Smallest", DS_OK,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwBufferBytes = DSBSIZE_MIN; }},
        DescCase{"TooSmall", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE& f) {
                     f = Pcm(1, 8, 8000);
                     d.dwBufferBytes = 3;
                 }},
        DescCase{"TooLarge", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.dwBufferBytes = 0x10000000; }},
        DescCase{"NoFormat", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE&) { d.lpwfxFormat = nullptr; }},
        DescCase{"BlockAlignWrong", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC&, WAVEFORMATEXTENSIBLE& f) { f.Format.nBlockAlign = 3; }},
        DescCase{"FieldsThatOverflowWhenMultiplied", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC&, WAVEFORMATEXTENSIBLE& f) {
                     f.Format.nChannels = 0xFFFF;
                     f.Format.wBitsPerSample = 0xFFFF;
                     f.Format.nSamplesPerSec = 0xFFFFFFFF;
                 }},
        DescCase{"TwelveBits", DSERR_BADFORMAT,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE& f) {
                     f = Pcm(2, 12, 48000);
                     f.Format.nBlockAlign = 3;
                     f.Format.nAvgBytesPerSec = 3 * 48000;
                     d.dwBufferBytes = 4800;
                 }},
        DescCase{"NineChannels", DSERR_BADFORMAT,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE& f) {
                     f = Pcm(9, 16, 48000);
                     d.dwBufferBytes = 18 * 100;
                 }},
        DescCase{"Float", DSERR_BADFORMAT,
                 [](DSBUFFERDESC&, WAVEFORMATEXTENSIBLE& f) {
                     f = Pcm(1, 32, 48000);
                     f.Format.wFormatTag = 3;
                 }},
        DescCase{"ExtensibleSixChannels24Bit", DS_OK,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE& f) {
                     f = Pcm(6, 24, 48000, true);
                     d.dwBufferBytes = 18 * 100;
                 }},
        DescCase{"ExtensibleNotPcm", DSERR_BADFORMAT,
                 [](DSBUFFERDESC&, WAVEFORMATEXTENSIBLE& f) {
                     f = Pcm(2, 16, 48000, true);
                     f.SubFormat.Data1 = 3;
                 }},
        DescCase{"ValidBitsAboveContainer", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC&, WAVEFORMATEXTENSIBLE& f) {
                     f = Pcm(2, 16, 48000, true);
                     f.Samples.wValidBitsPerSample = 20;
                 }},
        DescCase{"Primary", DS_OK, kPrimary},
        DescCase{"PrimaryWithBytes", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE& f) {
                     kPrimary(d, f);
                     d.dwBufferBytes = 4800;
                 }},
        DescCase{"PrimaryWithFormat", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE& f) {
                     kPrimary(d, f);
                     d.lpwfxFormat = &f.Format;
                 }},
        DescCase{"PrimaryWithNotify", DSERR_INVALIDPARAM,
                 [](DSBUFFERDESC& d, WAVEFORMATEXTENSIBLE& f) {
                     kPrimary(d, f);
                     d.dwFlags |= DSBCAPS_CTRLPOSITIONNOTIFY;
                 }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(DeviceObjects, CreateSoundBufferRefusesAggregation) {
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(ds_->CreateSoundBuffer(&desc, &buffer, reinterpret_cast<IUnknown*>(ds_)),
              kNoAggregation);
    EXPECT_EQ(ds_->CreateSoundBuffer(nullptr, &buffer, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer, nullptr);
}

struct OutputCase {
    WORD channels;
    WORD bits;
    DWORD rate;
    DWORD speakers;
};

void PrintTo(const OutputCase& c, std::ostream* out) {
    *out << c.channels << "ch " << c.bits << "-bit " << c.rate << " Hz";
}

class PrimaryFormats : public DeviceObjects, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(PrimaryFormats, OutputHoldsWhatWasSetAndNamesItsSpeakers) {
    const OutputCase& c = GetParam();
    IDirectSoundBuffer* primary = Primary();
    ASSERT_NE(primary, nullptr);
    WAVEFORMATEXTENSIBLE wanted = Pcm(c.channels, c.bits, c.rate, c.channels > 2);
    if (c.channels > 2) wanted.dwChannelMask = (1u << c.channels) - 1;
    EXPECT_EQ(primary->SetFormat(&wanted.Format), DSERR_PRIOLEVELNEEDED);
    ASSERT_EQ(ds_->SetCooperativeLevel(Window(), DSSCL_PRIORITY), DS_OK);
    ASSERT_EQ(primary->SetFormat(&wanted.Format), DS_OK);

    DWORD size = 0;
    ASSERT_EQ(primary->GetFormat(nullptr, 0, &size), DS_OK);
    ASSERT_EQ(size, c.channels > 2 ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX));
    WAVEFORMATEXTENSIBLE held{};
    EXPECT_EQ(primary->GetFormat(&held.Format, size - 1, nullptr), DSERR_INVALIDPARAM);
    ASSERT_EQ(primary->GetFormat(&held.Format, size, nullptr), DS_OK);
    EXPECT_EQ(std::memcmp(&held, &wanted, size), 0);

    DWORD speakers = 0;
    ASSERT_EQ(ds_->GetSpeakerConfig(&speakers), DS_OK);
    EXPECT_EQ(speakers, c.speakers);
    primary->Release();
}

INSTANTIATE_TEST_SUITE_P(Outputs, PrimaryFormats,
                         ::testing::Values(OutputCase{1, 16, 44100, DSSPEAKER_MONO},
                                           OutputCase{2, 8, 22050, DSSPEAKER_STEREO},
                                           OutputCase{4, 24, 48000, DSSPEAKER_QUAD},
                                           OutputCase{6, 16, 48000, DSSPEAKER_5POINT1},
                                           OutputCase{8, 32, 96000, DSSPEAKER_7POINT1}),
                         [](const auto& test) {
                             return std::to_string(test.param.channels) + "x" +
                                    std::to_string(test.param.bits) + "at" +
                                    std::to_string(test.param.rate);
                         });

// One call on the device, its primary buffer or a secondary buffer made
// with `flags`, and what it answers; `call` checks what it hands back.
enum class Target { kDevice, kThePrimary, kSecondary };

struct CallCase {
    const char* name;
    Target target;
    DWORD flags;
    DWORD level;
    HRESULT expected;
    std::function<HRESULT(IDirectSound*, IDirectSoundBuffer*)> call;
};

void PrintTo(const CallCase& c, std::ostream* out) { *out << c.name; }

class Calls : public DeviceObjects, public ::testing::WithParamInterface<CallCase> {};

TEST_P(Calls, AnswerAsDirectSoundDoes) {
    const CallCase& c = GetParam();
    ASSERT_EQ(ds_->SetCooperativeLevel(Window(), c.level), DS_OK);
    IDirectSoundBuffer* buffer = nullptr;
    if (c.target != Target::kDevice) {
        WAVEFORMATEXTENSIBLE format = Pcm(2, 16, 48000);
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = c.flags | (c.target == Target::kThePrimary ? DSBCAPS_PRIMARYBUFFER : 0);
        desc.dwBufferBytes = c.target == Target::kThePrimary ? 0 : 4800;
        desc.lpwfxFormat = c.target == Target::kThePrimary ? nullptr : &format.Format;
        ASSERT_EQ(ds_->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    }
    EXPECT_EQ(c.call(ds_, buffer), c.expected);
    if (buffer != nullptr) {
        EXPECT_EQ(buffer->Release(), 0u);
    }
}

constexpr DWORD kControls = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN;
constexpr DWORD kAllControls = kControls | DSBCAPS_CTRLFREQUENCY;
using Buffer = IDirectSoundBuffer*;
using Device = IDirectSound*;

HRESULT VolumeRoundTrip(Device, Buffer b) {
    LONG volume = 1;
    const HRESULT set = b->SetVolume(-600);
    const HRESULT got = b->GetVolume(&volume);
    if (set == DS_OK) {
        EXPECT_EQ(volume, -600);
    }
    return set != DS_OK ? set : got;
}

HRESULT BufferCaps(Device, Buffer b, DWORD flags, DWORD bytes) {
    DSBCAPS caps{};
    caps.dwSize = sizeof caps;
    caps.dwUnlockTransferRate = caps.dwPlayCpuOverhead = 1;
    const HRESULT got = b->GetCaps(&caps);
    EXPECT_EQ(caps.dwFlags, flags | DSBCAPS_LOCSOFTWARE);
    EXPECT_EQ(caps.dwBufferBytes, bytes);
    EXPECT_EQ(caps.dwSize, sizeof caps);
    EXPECT_EQ(caps.dwUnlockTransferRate, 0u);
    EXPECT_EQ(caps.dwPlayCpuOverhead, 0u);
    return got;
}

INSTANTIATE_TEST_SUITE_P(
    Objects, Calls,
    ::testing::Values(
        CallCase{"DeviceCaps", Target::kDevice, 0, DSSCL_NORMAL, DS_OK,
                 [](Device d, Buffer) {
                     DSCAPS caps{};
                     caps.dwSize = sizeof caps;
                     const HRESULT got = d->GetCaps(&caps);
                     EXPECT_EQ(caps.dwFlags, 0xF3Fu);  // mono to 16-bit, both kinds; emulated
                     EXPECT_EQ(caps.dwMinSecondarySampleRate, 100u);
                     EXPECT_EQ(caps.dwMaxSecondarySampleRate, 200000u);
                     EXPECT_EQ(caps.dwPrimaryBuffers, 1u);
                     EXPECT_EQ(caps.dwSize, sizeof caps);
                     return got;
                 }},
        CallCase{"DeviceCapsNull", Target::kDevice, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device d, Buffer) { return d->GetCaps(nullptr); }},
        CallCase{"DeviceCapsWrongSize", Target::kDevice, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device d, Buffer) {
                     DSCAPS caps{};
                     caps.dwSize = sizeof caps - 4;
                     return d->GetCaps(&caps);
                 }},
        CallCase{"DeviceSpeakerConfigNull", Target::kDevice, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device d, Buffer) { return d->GetSpeakerConfig(nullptr); }},
        CallCase{"DeviceSetSpeakerConfig", Target::kDevice, 0, DSSCL_NORMAL, DSERR_UNSUPPORTED,
                 [](Device d, Buffer) { return d->SetSpeakerConfig(DSSPEAKER_STEREO); }},
        CallCase{"DeviceDuplicate", Target::kDevice, 0, DSSCL_NORMAL, DSERR_UNSUPPORTED,
                 [](Device d, Buffer) {
                     static int unset = 0;
                     auto copy = reinterpret_cast<Buffer>(&unset);
                     const HRESULT got = d->DuplicateSoundBuffer(nullptr, &copy);
                     EXPECT_EQ(copy, nullptr);
                     return got;
                 }},
        CallCase{"DeviceCompact", Target::kDevice, 0, DSSCL_NORMAL, DS_OK,
                 [](Device d, Buffer) { return d->Compact(); }},
        CallCase{"DeviceInitialize", Target::kDevice, 0, DSSCL_NORMAL, DSERR_ALREADYINITIALIZED,
                 [](Device d, Buffer) { return d->Initialize(nullptr); }},
        CallCase{"DeviceQueryNull", Target::kDevice, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device d, Buffer) { return d->QueryInterface(kIidDirectSound, nullptr); }},
        CallCase{"DeviceQueryNotify", Target::kDevice, 0, DSSCL_NORMAL, E_NOINTERFACE,
                 [](Device d, Buffer) {
                     void* object = &object;
                     const HRESULT got = d->QueryInterface(kIidNotify, &object);
                     EXPECT_EQ(object, nullptr);
                     return got;
                 }},
        CallCase{"PrimaryCaps", Target::kThePrimary, DSBCAPS_CTRLVOLUME, DSSCL_NORMAL, DS_OK,
                 [](Device d, Buffer b) {
                     // One period of the disk driver's output: 1024 frames.
                     return BufferCaps(d, b, DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLVOLUME, 4096);
                 }},
        CallCase{"PrimaryCapsNull", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->GetCaps(nullptr); }},
        CallCase{"PrimaryCapsWrongSize", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) {
                     DSBCAPS caps{};
                     caps.dwSize = sizeof caps + 4;
                     return b->GetCaps(&caps);
                 }},
        CallCase{"PrimaryPosition", Target::kThePrimary, 0, DSSCL_NORMAL, DS_OK,
                 [](Device, Buffer b) {
                     DWORD play = 4096;
                     DWORD write = 4096;
                     const HRESULT got = b->GetCurrentPosition(&play, &write);
                     EXPECT_LT(play, 4096u);
                     EXPECT_EQ(play % 4, 0u);
                     EXPECT_EQ(write, play);
                     return got;
                 }},
        CallCase{"PrimaryVolumeWithoutControl", Target::kThePrimary, 0, DSSCL_NORMAL,
                 DSERR_CONTROLUNAVAIL, VolumeRoundTrip},
        CallCase{"PrimaryVolume", Target::kThePrimary, DSBCAPS_CTRLVOLUME, DSSCL_NORMAL, DS_OK,
                 VolumeRoundTrip},
        CallCase{"PrimaryVolumeAboveMax", Target::kThePrimary, DSBCAPS_CTRLVOLUME, DSSCL_NORMAL,
                 DSERR_INVALIDPARAM, [](Device, Buffer b) { return b->SetVolume(1); }},
        CallCase{"PrimaryVolumeNull", Target::kThePrimary, DSBCAPS_CTRLVOLUME, DSSCL_NORMAL,
                 DSERR_INVALIDPARAM, [](Device, Buffer b) { return b->GetVolume(nullptr); }},
        CallCase{"PrimaryPanWithoutControl", Target::kThePrimary, 0, DSSCL_NORMAL,
                 DSERR_CONTROLUNAVAIL,
                 [](Device, Buffer b) {
                     LONG pan = 0;
                     return b->GetPan(&pan);
                 }},
        CallCase{"PrimaryPan", Target::kThePrimary, kControls, DSSCL_NORMAL, DSERR_UNSUPPORTED,
                 [](Device, Buffer b) {
                     LONG pan = 0;
                     return b->GetPan(&pan);
                 }},
        CallCase{"PrimaryPanNull", Target::kThePrimary, kControls, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->GetPan(nullptr); }},
        CallCase{"PrimarySetPanWithoutControl", Target::kThePrimary, 0, DSSCL_NORMAL,
                 DSERR_CONTROLUNAVAIL, [](Device, Buffer b) { return b->SetPan(0); }},
        CallCase{"PrimarySetPan", Target::kThePrimary, kControls, DSSCL_NORMAL, DSERR_UNSUPPORTED,
                 [](Device, Buffer b) { return b->SetPan(0); }},
        CallCase{"PrimaryFrequency", Target::kThePrimary, kControls, DSSCL_NORMAL,
                 DSERR_CONTROLUNAVAIL,
                 [](Device, Buffer b) {
                     DWORD frequency = 0;
                     return b->GetFrequency(&frequency);
                 }},
        CallCase{"PrimaryFrequencyNull", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->GetFrequency(nullptr); }},
        CallCase{"PrimarySetFrequency", Target::kThePrimary, kControls, DSSCL_NORMAL,
                 DSERR_CONTROLUNAVAIL, [](Device, Buffer b) { return b->SetFrequency(44100); }},
        CallCase{"PrimaryStatus", Target::kThePrimary, 0, DSSCL_NORMAL, DS_OK,
                 [](Device, Buffer b) {
                     DWORD status = 0;
                     const HRESULT got = b->GetStatus(&status);
                     EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
                     return got;
                 }},
        CallCase{"PrimaryStatusNull", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->GetStatus(nullptr); }},
        CallCase{"PrimaryLockBelowWritePrimary", Target::kThePrimary, 0, DSSCL_EXCLUSIVE,
                 DSERR_PRIOLEVELNEEDED,
                 [](Device, Buffer b) {
                     void* p = nullptr;
                     DWORD n = 0;
                     return b->Lock(0, 4, &p, &n, nullptr, nullptr, 0);
                 }},
        CallCase{"PrimaryLockAtWritePrimary", Target::kThePrimary, 0, DSSCL_WRITEPRIMARY,
                 DSERR_UNSUPPORTED,
                 [](Device, Buffer b) {
                     void* p = nullptr;
                     DWORD n = 0;
                     return b->Lock(0, 4, &p, &n, nullptr, nullptr, 0);
                 }},
        CallCase{"PrimaryLockNull", Target::kThePrimary, 0, DSSCL_WRITEPRIMARY, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->Lock(0, 4, nullptr, nullptr, nullptr, nullptr, 0); }},
        CallCase{"PrimaryUnlock", Target::kThePrimary, 0, DSSCL_WRITEPRIMARY, DSERR_INVALIDCALL,
                 [](Device, Buffer b) { return b->Unlock(nullptr, 0, nullptr, 0); }},
        CallCase{"PrimaryPlayLooping", Target::kThePrimary, 0, DSSCL_NORMAL, DS_OK,
                 [](Device, Buffer b) { return b->Play(0, 0, DSBPLAY_LOOPING); }},
        CallCase{"PrimaryPlayOnce", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->Play(0, 0, 0); }},
        CallCase{"PrimaryPlayReserved", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->Play(1, 0, DSBPLAY_LOOPING); }},
        CallCase{"PrimaryPlayPriority", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->Play(0, 1, DSBPLAY_LOOPING); }},
        CallCase{"PrimaryStop", Target::kThePrimary, 0, DSSCL_NORMAL, DS_OK,
                 [](Device, Buffer b) { return b->Stop(); }},
        CallCase{"PrimarySetPosition", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_INVALIDCALL,
                 [](Device, Buffer b) { return b->SetCurrentPosition(0); }},
        CallCase{"PrimaryInitialize", Target::kThePrimary, 0, DSSCL_NORMAL, DSERR_ALREADYINITIALIZED,
                 [](Device d, Buffer b) { return b->Initialize(d, nullptr); }},
        CallCase{"PrimaryFormatWithoutValidBits", Target::kThePrimary, 0, DSSCL_PRIORITY, DS_OK,
                 [](Device, Buffer b) {
                     WAVEFORMATEXTENSIBLE format = Pcm(2, 16, 48000, true);
                     format.Samples.wValidBitsPerSample = 0;  // as many as the container
                     const HRESULT set = b->SetFormat(&format.Format);
                     WAVEFORMATEXTENSIBLE held{};
                     EXPECT_EQ(b->GetFormat(&held.Format, sizeof held, nullptr), DS_OK);
                     EXPECT_EQ(held.Samples.wValidBitsPerSample, 16);
                     return set;
                 }},
        CallCase{"PrimaryFormatNull", Target::kThePrimary, 0, DSSCL_PRIORITY, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->SetFormat(nullptr); }},
        CallCase{"PrimaryRestoreWhileThere", Target::kThePrimary, 0, DSSCL_NORMAL, DS_OK,
                 [](Device, Buffer b) { return b->Restore(); }},
        CallCase{"SecondaryCaps", Target::kSecondary, kAllControls, DSSCL_NORMAL, DS_OK,
                 [](Device d, Buffer b) { return BufferCaps(d, b, kAllControls, 4800); }},
        CallCase{"SecondaryCapsNull", Target::kSecondary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->GetCaps(nullptr); }},
        CallCase{"SecondaryVolumeWithoutControl", Target::kSecondary, 0, DSSCL_NORMAL,
                 DSERR_CONTROLUNAVAIL, VolumeRoundTrip},
        CallCase{"SecondaryVolume", Target::kSecondary, DSBCAPS_CTRLVOLUME, DSSCL_NORMAL, DS_OK,
                 VolumeRoundTrip},
        CallCase{"SecondaryVolumeAboveMax", Target::kSecondary, DSBCAPS_CTRLVOLUME, DSSCL_NORMAL,
                 DSERR_INVALIDPARAM, [](Device, Buffer b) { return b->SetVolume(1); }},
        CallCase{"SecondaryVolumeBelowMin", Target::kSecondary, DSBCAPS_CTRLVOLUME, DSSCL_NORMAL,
                 DSERR_INVALIDPARAM, [](Device, Buffer b) { return b->SetVolume(-10001); }},
        CallCase{"SecondaryPanWithoutControl", Target::kSecondary, DSBCAPS_CTRLFREQUENCY,
                 DSSCL_NORMAL, DSERR_CONTROLUNAVAIL,
                 [](Device, Buffer b) {
                     LONG pan = 1;
                     return b->GetPan(&pan);
                 }},
        CallCase{"SecondaryPan", Target::kSecondary, DSBCAPS_CTRLPAN, DSSCL_NORMAL, DS_OK,
                 [](Device, Buffer b) {
                     LONG pan = 1;
                     const HRESULT got = b->GetPan(&pan);
                     EXPECT_EQ(pan, 0);
                     return got;
                 }},
        CallCase{"SecondarySetPanWithoutControl", Target::kSecondary, DSBCAPS_CTRLFREQUENCY,
                 DSSCL_NORMAL, DSERR_CONTROLUNAVAIL, [](Device, Buffer b) { return b->SetPan(0); }},
        CallCase{"SecondarySetPan", Target::kSecondary, DSBCAPS_CTRLPAN, DSSCL_NORMAL,
                 DSERR_UNSUPPORTED, [](Device, Buffer b) { return b->SetPan(0); }},
        CallCase{"SecondaryFrequencyWithoutControl", Target::kSecondary, DSBCAPS_CTRLPAN,
                 DSSCL_NORMAL, DSERR_CONTROLUNAVAIL,
                 [](Device, Buffer b) {
                     DWORD frequency = 0;
                     return b->GetFrequency(&frequency);
                 }},
        CallCase{"SecondaryFrequency", Target::kSecondary, DSBCAPS_CTRLFREQUENCY, DSSCL_NORMAL,
                 DS_OK,
                 [](Device, Buffer b) {
                     DWORD frequency = 0;
                     const HRESULT got = b->GetFrequency(&frequency);
                     EXPECT_EQ(frequency, 48000u);
                     return got;
                 }},
        CallCase{"SecondarySetFrequencyWithoutControl", Target::kSecondary, DSBCAPS_CTRLPAN,
                 DSSCL_NORMAL, DSERR_CONTROLUNAVAIL,
                 [](Device, Buffer b) { return b->SetFrequency(44100); }},
        CallCase{"SecondarySetFrequency", Target::kSecondary, DSBCAPS_CTRLFREQUENCY, DSSCL_NORMAL,
                 DSERR_UNSUPPORTED, [](Device, Buffer b) { return b->SetFrequency(44100); }},
        CallCase{"SecondaryFormat", Target::kSecondary, 0, DSSCL_PRIORITY, DSERR_INVALIDCALL,
                 [](Device, Buffer b) {
                     WAVEFORMATEXTENSIBLE format = Pcm(2, 16, 48000);
                     return b->SetFormat(&format.Format);
                 }},
        CallCase{"SecondaryInitialize", Target::kSecondary, 0, DSSCL_NORMAL,
                 DSERR_ALREADYINITIALIZED,
                 [](Device d, Buffer b) { return b->Initialize(d, nullptr); }},
        CallCase{"SecondaryPlayReserved", Target::kSecondary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->Play(1, 0, 0); }},
        CallCase{"SecondaryPlayPriorityWithoutDefer", Target::kSecondary, 0, DSSCL_NORMAL,
                 DSERR_INVALIDPARAM, [](Device, Buffer b) { return b->Play(0, 1, 0); }},
        CallCase{"SecondaryPlayPriorityDeferred", Target::kSecondary, DSBCAPS_LOCDEFER,
                 DSSCL_NORMAL, DS_OK,
                 [](Device, Buffer b) {
                     const HRESULT got = b->Play(0, 1, DSBPLAY_LOOPING);
                     DWORD status = 0;
                     EXPECT_EQ(b->GetStatus(&status), DS_OK);
                     EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
                     return got;
                 }},
        CallCase{"SecondaryStatusNull", Target::kSecondary, 0, DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) { return b->GetStatus(nullptr); }},
        CallCase{"SecondaryNotifyWithoutNull", Target::kSecondary, DSBCAPS_CTRLPOSITIONNOTIFY,
                 DSSCL_NORMAL, DSERR_INVALIDPARAM,
                 [](Device, Buffer b) {
                     IDirectSoundNotify* notify = nullptr;
                     EXPECT_EQ(b->QueryInterface(kIidNotify, reinterpret_cast<void**>(&notify)),
                               DS_OK);
                     const HRESULT got = notify->SetNotificationPositions(1, nullptr);
                     notify->Release();
                     return got;
                 }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(DeviceObjects, LockWrapsIntoASecondRegion) {
    IDirectSoundBuffer* buffer = Secondary(0, 400);
    void* p1 = nullptr;
    void* p2 = nullptr;
    void* base = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    ASSERT_EQ(buffer->Lock(0, 0, &base, &n1, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(n1, 400u);
    ASSERT_EQ(buffer->Lock(300, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(p1, static_cast<uint8_t*>(base) + 300);
    EXPECT_EQ(n1, 100u);
    EXPECT_EQ(p2, base);
    EXPECT_EQ(n2, 100u);
    EXPECT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    ASSERT_EQ(buffer->Lock(100, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(n1, 200u);
    EXPECT_EQ(p2, nullptr);
    EXPECT_EQ(n2, 0u);
    // A stopped buffer's write cursor is its play cursor.
    ASSERT_EQ(buffer->SetCurrentPosition(200), DS_OK);
    ASSERT_EQ(buffer->Lock(0, 8, &p1, &n1, nullptr, nullptr, DSBLOCK_FROMWRITECURSOR), DS_OK);
    EXPECT_EQ(p1, static_cast<uint8_t*>(base) + 200);

    EXPECT_EQ(buffer->Lock(400, 4, &p1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Lock(0, 401, &p1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Unlock(&n1, 4, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->SetCurrentPosition(400), DSERR_INVALIDPARAM);

    DWORD play = 1;
    EXPECT_EQ(buffer->GetCurrentPosition(&play, nullptr), DS_OK);
    EXPECT_EQ(play, 200u);
    DWORD write = 1;
    EXPECT_EQ(buffer->GetCurrentPosition(nullptr, &write), DS_OK);
    EXPECT_EQ(write, 200u);
    buffer->Release();
}

TEST_F(DeviceObjects, NotifyInterfaceOnlyWithTheCapability) {
    IDirectSoundBuffer* plain = Secondary(0);
    void* notify = &notify;
    EXPECT_EQ(plain->QueryInterface(kIidNotify, &notify), E_NOINTERFACE);
    EXPECT_EQ(notify, nullptr);
    plain->Release();

    IDirectSoundBuffer* buffer = Secondary(DSBCAPS_CTRLPOSITIONNOTIFY, 400);
    ASSERT_EQ(buffer->QueryInterface(kIidNotify, &notify), DS_OK);
    auto* positions = static_cast<IDirectSoundNotify*>(notify);
    EventFd event;
    DSBPOSITIONNOTIFY table[] = {{399, event.Handle()}, {DSBPN_OFFSETSTOP, event.Handle()}};
    EXPECT_EQ(positions->SetNotificationPositions(2, table), DS_OK);
    table[0].dwOffset = 400;
    EXPECT_EQ(positions->SetNotificationPositions(2, table), DSERR_INVALIDPARAM);
    table[0].dwOffset = 0;
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(positions->SetNotificationPositions(2, table), DSERR_INVALIDCALL);
    ASSERT_EQ(buffer->Stop(), DS_OK);
    EXPECT_EQ(positions->SetNotificationPositions(2, table), DS_OK);

    // The notify interface keeps the buffer alive, and the buffer its device.
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(ds_->Release(), 1u);
    ds_ = nullptr;
    EXPECT_EQ(positions->SetNotificationPositions(0, nullptr), DS_OK);
    EXPECT_EQ(positions->Release(), 0u);
}

TEST_F(DeviceObjects, OnePrimaryBufferSharedByItsUsers) {
    IDirectSoundBuffer* first = Primary();
    IDirectSoundBuffer* second = Primary();
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->AddRef(), 3u);
    EXPECT_EQ(first->Release(), 2u);
    void* unused = nullptr;
    EXPECT_EQ(first->QueryInterface(kIidNotify, &unused), E_NOINTERFACE);
    EXPECT_EQ(second->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);
}

TEST_F(DeviceObjects, LostOutputRefusesLockAndPlayUntilRestored) {
    IDirectSoundBuffer* buffer = Secondary(0);
    IMivoDeviceHooks* hooks = nullptr;
    ASSERT_EQ(ds_->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(hooks->SimulateDeviceLoss(1), DS_OK);

    void* p = nullptr;
    DWORD n = 0;
    DWORD status = 0;
    EXPECT_EQ(buffer->Lock(0, 4, &p, &n, nullptr, nullptr, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
    ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
    EXPECT_EQ(buffer->Restore(), DSERR_BUFFERLOST);  // the output is still gone
    EXPECT_EQ(buffer->Lock(0, 4, &p, &n, nullptr, nullptr, 0), DSERR_BUFFERLOST);
    ASSERT_EQ(buffer->Restore(), DS_OK);
    EXPECT_EQ(buffer->Lock(0, 4, &p, &n, nullptr, nullptr, 0), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    hooks->Release();
    buffer->Release();
}

// The library restores and retries a refused lock once.
TEST(LostOutput, LibraryLockRecoversThroughRestore) {
    DiskFile file(1);
    auto sound = OpenDevice({2, 16, 48000, 0});
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(sound->CreateStreamingBuffer(800, 200, nullptr, nullptr, 2, 16, 16, 48000, 0), 1);
    IMivoDeviceHooks* hooks = nullptr;
    ASSERT_EQ(
        sound->DirectSound->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)),
        DS_OK);
    void* data = nullptr;
    uint32_t bytes = 0;
    ASSERT_EQ(hooks->SimulateDeviceLoss(1), DS_OK);
    EXPECT_EQ(sound->LockStreamingBuffer(2, &data, &bytes), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(sound->LockStreamingBuffer(2, &data, &bytes), 1);
    EXPECT_EQ(bytes, 200u);
    ASSERT_EQ(hooks->SimulateDeviceLoss(0), DS_OK);
    EXPECT_EQ(sound->PlayStreamingBuffer(), 1);
    hooks->Release();
}

}  // namespace
}  // namespace device_test

// DirectSound as declared for POSIX systems: the same records, interface
// method order, flags and result values as Windows, so that the core, the
// software device and any test double can be swapped for one another.
#pragma once

#include <cstdint>

#include "mivo_platform_types.h"

#define WINAPI

struct IUnknown;
typedef IUnknown* LPUNKNOWN;

typedef struct _DSCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMinSecondarySampleRate;
    DWORD dwMaxSecondarySampleRate;
    DWORD dwPrimaryBuffers;
    DWORD dwMaxHwMixingAllBuffers;
    DWORD dwMaxHwMixingStaticBuffers;
    DWORD dwMaxHwMixingStreamingBuffers;
    DWORD dwFreeHwMixingAllBuffers;
    DWORD dwFreeHwMixingStaticBuffers;
    DWORD dwFreeHwMixingStreamingBuffers;
    DWORD dwMaxHw3DAllBuffers;
    DWORD dwMaxHw3DStaticBuffers;
    DWORD dwMaxHw3DStreamingBuffers;
    DWORD dwFreeHw3DAllBuffers;
    DWORD dwFreeHw3DStaticBuffers;
    DWORD dwFreeHw3DStreamingBuffers;
    DWORD dwTotalHwMemBytes;
    DWORD dwFreeHwMemBytes;
    DWORD dwMaxContigFreeHwMemBytes;
    DWORD dwUnlockTransferRateHwBuffers;
    DWORD dwPlayCpuOverheadSwBuffers;
    DWORD dwReserved1;
    DWORD dwReserved2;
} DSCAPS;

typedef struct _DSBCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwUnlockTransferRate;
    DWORD dwPlayCpuOverhead;
} DSBCAPS;

typedef IDirectSound* LPDIRECTSOUND;
typedef IDirectSoundBuffer* LPDIRECTSOUNDBUFFER;
typedef IDirectSoundNotify* LPDIRECTSOUNDNOTIFY;

// COM-style interfaces: no virtual destructor, since that would add a slot to
// the method table; objects are freed by their own last Release().
struct IUnknown {
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    IUnknown() = default;
    IUnknown(const IUnknown&) = default;
    IUnknown& operator=(const IUnknown&) = default;
    ~IUnknown() = default;
};

struct IDirectSound : IUnknown {
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                                      IUnknown* outer) = 0;
    virtual HRESULT GetCaps(DSCAPS* caps) = 0;
    virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                                         IDirectSoundBuffer** duplicate) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
    virtual HRESULT Compact() = 0;
    virtual HRESULT GetSpeakerConfig(DWORD* config) = 0;
    virtual HRESULT SetSpeakerConfig(DWORD config) = 0;
    virtual HRESULT Initialize(const GUID* device) = 0;

protected:
    ~IDirectSound() = default;
};

struct IDirectSoundBuffer : IUnknown {
    virtual HRESULT GetCaps(DSBCAPS* caps) = 0;
    virtual HRESULT GetCurrentPosition(DWORD* play, DWORD* write) = 0;
    virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD bytes, DWORD* written) = 0;
    virtual HRESULT GetVolume(LONG* volume) = 0;
    virtual HRESULT GetPan(LONG* pan) = 0;
    virtual HRESULT GetFrequency(DWORD* frequency) = 0;
    virtual HRESULT GetStatus(DWORD* status) = 0;
    virtual HRESULT Initialize(IDirectSound* device, const DSBUFFERDESC* desc) = 0;
    virtual HRESULT Lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2,
                         DWORD flags) = 0;
    virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
    virtual HRESULT SetCurrentPosition(DWORD position) = 0;
    virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
    virtual HRESULT SetVolume(LONG volume) = 0;
    virtual HRESULT SetPan(LONG pan) = 0;
    virtual HRESULT SetFrequency(DWORD frequency) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Unlock(void* p1, DWORD n1, void* p2, DWORD n2) = 0;
    virtual HRESULT Restore() = 0;

protected:
    ~IDirectSoundBuffer() = default;
};

struct IDirectSoundNotify : IUnknown {
    virtual HRESULT SetNotificationPositions(DWORD count, const DSBPOSITIONNOTIFY* positions) = 0;

protected:
    ~IDirectSoundNotify() = default;
};

typedef HRESULT (*LPDIRECTSOUNDCREATE)(const GUID* device, IDirectSound** out, IUnknown* outer);

// Output enumeration, as DirectSoundEnumerateA/W: the callback receives each
// output's GUID (null for the default output), its description and its
// module name, and returns FALSE to stop the walk. Wide strings are UTF-16,
// as on Windows.
typedef int32_t BOOL;
constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
typedef const char* LPCSTR;
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef BOOL (*LPDSENUMCALLBACKA)(GUID* guid, LPCSTR description, LPCSTR module, LPVOID context);
typedef BOOL (*LPDSENUMCALLBACKW)(GUID* guid, LPCWSTR description, LPCWSTR module, LPVOID context);
typedef HRESULT (*LPDIRECTSOUNDENUMERATEA)(LPDSENUMCALLBACKA callback, LPVOID context);
typedef HRESULT (*LPDIRECTSOUNDENUMERATEW)(LPDSENUMCALLBACKW callback, LPVOID context);

// Results.
constexpr HRESULT hresult(uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DS_NO_VIRTUALIZATION = hresult(0x0878000Au);
constexpr HRESULT E_FAIL = hresult(0x80004005u);
constexpr HRESULT E_NOINTERFACE = hresult(0x80004002u);
constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110u);
constexpr HRESULT DSERR_INVALIDPARAM = hresult(0x80070057u);
constexpr HRESULT DSERR_OUTOFMEMORY = hresult(0x8007000Eu);
constexpr HRESULT DSERR_UNSUPPORTED = hresult(0x80004001u);
constexpr HRESULT DSERR_GENERIC = E_FAIL;
constexpr HRESULT DSERR_NOINTERFACE = E_NOINTERFACE;
constexpr HRESULT DSERR_ALLOCATED = hresult(0x8878000Au);
constexpr HRESULT DSERR_CONTROLUNAVAIL = hresult(0x8878001Eu);
constexpr HRESULT DSERR_INVALIDCALL = hresult(0x88780032u);
constexpr HRESULT DSERR_PRIOLEVELNEEDED = hresult(0x88780046u);
constexpr HRESULT DSERR_BADFORMAT = hresult(0x88780064u);
constexpr HRESULT DSERR_NODRIVER = hresult(0x88780078u);
constexpr HRESULT DSERR_ALREADYINITIALIZED = hresult(0x88780082u);
constexpr HRESULT DSERR_BUFFERLOST = hresult(0x88780096u);
constexpr HRESULT DSERR_OTHERAPPHASPRIO = hresult(0x887800A0u);
constexpr HRESULT DSERR_UNINITIALIZED = hresult(0x887800AAu);

// Cooperative levels.
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

// Speaker configurations.
constexpr DWORD DSSPEAKER_DIRECTOUT = 0;
constexpr DWORD DSSPEAKER_HEADPHONE = 1;
constexpr DWORD DSSPEAKER_MONO = 2;
constexpr DWORD DSSPEAKER_QUAD = 3;
constexpr DWORD DSSPEAKER_STEREO = 4;
constexpr DWORD DSSPEAKER_SURROUND = 5;
constexpr DWORD DSSPEAKER_5POINT1 = 6;
constexpr DWORD DSSPEAKER_7POINT1 = 7;

// Buffer capabilities.
constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr DWORD DSBCAPS_STATIC = 0x2;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x4;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x8;
constexpr DWORD DSBCAPS_CTRL3D = 0x10;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr DWORD DSBCAPS_CTRLPAN = 0x40;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x80;
constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x100;
constexpr DWORD DSBCAPS_CTRLFX = 0x200;
constexpr DWORD DSBCAPS_STICKYFOCUS = 0x4000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x8000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x10000;
constexpr DWORD DSBCAPS_MUTE3DATMAXDISTANCE = 0x20000;
constexpr DWORD DSBCAPS_LOCDEFER = 0x40000;
constexpr DWORD DSBCAPS_TRUEPLAYPOSITION = 0x80000;

// Playback, status, locking, positions and limits.
constexpr DWORD DSBPLAY_LOOPING = 0x1;
constexpr DWORD DSBSTATUS_PLAYING = 0x1;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x2;
constexpr DWORD DSBSTATUS_LOOPING = 0x4;
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x1;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x2;
constexpr DWORD DSBPN_OFFSETSTOP = 0xFFFFFFFFu;
constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBVOLUME_MIN = -10000;

// Speaker positions, as channel masks name them.
constexpr DWORD SPEAKER_FRONT_LEFT = 0x1;
constexpr DWORD SPEAKER_FRONT_RIGHT = 0x2;
constexpr DWORD SPEAKER_FRONT_CENTER = 0x4;
constexpr DWORD SPEAKER_LOW_FREQUENCY = 0x8;
constexpr DWORD SPEAKER_BACK_LEFT = 0x10;
constexpr DWORD SPEAKER_BACK_RIGHT = 0x20;
constexpr DWORD SPEAKER_FRONT_LEFT_OF_CENTER = 0x40;
constexpr DWORD SPEAKER_FRONT_RIGHT_OF_CENTER = 0x80;
constexpr DWORD SPEAKER_BACK_CENTER = 0x100;
constexpr DWORD SPEAKER_SIDE_LEFT = 0x200;
constexpr DWORD SPEAKER_SIDE_RIGHT = 0x400;
constexpr DWORD SPEAKER_TOP_CENTER = 0x800;
constexpr DWORD SPEAKER_TOP_FRONT_LEFT = 0x1000;
constexpr DWORD SPEAKER_TOP_FRONT_CENTER = 0x2000;
constexpr DWORD SPEAKER_ALL = 0x80000000u;

// Wave format tags.
constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

inline bool IsEqualGUID(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

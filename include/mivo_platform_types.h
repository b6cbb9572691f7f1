/*
 * mivo: platform types for POSIX systems.
 *
 * CdsObject embeds DirectSound records by value, so their layout is part of
 * the client-visible ABI. On Windows they come from <dsound.h>; elsewhere
 * this header declares the same types with the same sizes, field order and
 * packing, and the three interfaces as incomplete types (only the library and
 * the platform call through them).
 *
 * Handles on POSIX:
 *  - HWND identifies the client's window. It is any non-null value the client
 *    chooses; nothing dereferences it.
 *  - An event HANDLE is a file descriptor cast to a pointer,
 *    (HANDLE)(intptr_t)fd, for example an eventfd (ideally EFD_NONBLOCK) or
 *    the write end of a pipe. The platform signals it by writing one 8-byte
 *    unsigned 1 without blocking. Descriptor 0 cannot be used because a null
 *    handle means "no event". The client creates, waits on and closes its
 *    events; neither mivo nor the platform ever closes them.
 */
#ifndef MIVO_PLATFORM_TYPES_H
#define MIVO_PLATFORM_TYPES_H

#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t HRESULT;

typedef struct HWND__* HWND;
typedef void* HANDLE;
typedef struct HINSTANCE__* HMODULE;
typedef void* LPVOID;
typedef void (*FARPROC)();

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef const GUID* LPCGUID;

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX;

typedef struct {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
} WAVEFORMATEXTENSIBLE;
#pragma pack(pop)

typedef struct _DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    WAVEFORMATEX* lpwfxFormat;
    GUID guid3DAlgorithm;
} DSBUFFERDESC;

typedef struct _DSBPOSITIONNOTIFY {
    DWORD dwOffset;
    HANDLE hEventNotify;
} DSBPOSITIONNOTIFY;

#ifdef __cplusplus
struct IDirectSound;
struct IDirectSoundBuffer;
struct IDirectSoundNotify;
#endif

#endif /* MIVO_PLATFORM_TYPES_H */

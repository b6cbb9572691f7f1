/*
 * mivo: sound output through DirectSound with one looping, block-divided
 * streaming buffer.
 *
 * A client allocates a CdsObject (on the stack, in its own object or with
 * new), constructs it for one of its windows and a sound device, asks
 * InitializationSuccessful() whether the device opened, and then calls the
 * other operations. Every operation returns 1 on success and 0 on failure;
 * nothing throws and nothing is logged.
 *
 * The field list of CdsObject, in its order, is part of the binary
 * interface: clients provide the object's storage. The fields are readable
 * for diagnostics; only the library writes them.
 *
 * Handles: on Windows, HWND and HANDLE are the system's own (an event
 * HANDLE is a Win32 event). On POSIX systems, see mivo_platform_types.h: an
 * HWND is any non-null value, and an event HANDLE is a file descriptor cast
 * to a pointer that the platform signals by writing an 8-byte 1.
 *
 * Threads: use each object from one thread at a time. Objects may be
 * constructed and destroyed on several threads at once; the library
 * serialises the shared loading and unloading of the sound platform.
 */
#ifndef MIVO_H
#define MIVO_H

#include <cstdint>

#if defined(_WIN32)
#include <dsound.h>
#include <mmreg.h>
#include <windows.h>
#if defined(MIVO_BUILDING_LIBRARY)
#define MIVO_API __declspec(dllexport)
#else
#define MIVO_API __declspec(dllimport)
#endif
#else
#include "mivo_platform_types.h"
#define MIVO_API __attribute__((visibility("default")))
#endif

/* Outcome of construction, as stored in CdsObject::InitStatus. */
enum CdsStatus : int32_t {
    CdsStatusReady = -1,       /* the device is open */
    CdsStatusNoWindow = 1,     /* the window handle was null */
    CdsStatusNoLibrary = 2,    /* "dsound.dll" could not be loaded */
    CdsStatusNoEntryPoint = 3, /* it has no "DirectSoundCreate" */
    CdsStatusNoDevice = 4      /* DirectSoundCreate failed or gave no device */
};

/* Application modes for SetApplicationMode (DirectSound cooperative levels). */
enum CdsMode : int32_t {
    CdsModePriority = 1, /* DSSCL_PRIORITY */
    CdsModeExclusive = 2 /* DSSCL_EXCLUSIVE */
};

/* One block of the streaming buffer and its lock state. */
struct CdsBlock {
    uint32_t Offset;      /* byte offset of the block in the streaming buffer */
    void* LockedPtr;      /* start of the locked region, or null */
    uint32_t LockedBytes; /* length of the locked region, or 0 */
    int32_t Locked;       /* 1 while the block is locked */
};

class MIVO_API CdsObject {
public:
    /*
     * Opens the sound device `device` (null: the default device) for
     * `window`, loading the sound platform on first use. Never fails
     * outwardly: see InitializationSuccessful() and InitStatus. The GUID is
     * not copied; the object keeps the pointer it was given.
     */
    CdsObject(HWND window, const GUID* device);

    /* Removes both buffers, closes the device and, when this is the last
     * live object, unloads the sound platform. */
    ~CdsObject();

    /*
     * Assignment shares nothing and takes nothing: an object owns its
     * device, buffers and tables alone, and a copy would have to release
     * them a second time. Assigning one object to another (or to itself)
     * therefore leaves the assigned-to object exactly as it was. Copy
     * construction is not offered.
     */
    CdsObject& operator=(const CdsObject& other);
    CdsObject(const CdsObject&) = delete;

    /* 1 when construction opened the device, else 0. */
    int32_t InitializationSuccessful() const;

    /* Cooperative level: CdsModePriority or CdsModeExclusive. */
    int32_t SetApplicationMode(int32_t mode);

    /* Number of speakers of the system's speaker configuration; `count` may
     * be null. */
    int32_t GetNumberOfSystemSpeakerConfig(int32_t* count);

    /*
     * Sets the hardware output format through the primary buffer and checks
     * that the device holds it. `layoutKind` matters only for 3 channels
     * (1: back center, 2: front center, else top front left). Replaces an
     * existing primary buffer.
     */
    int32_t CreatePrimaryBuffer(int32_t channels, uint16_t bits, uint16_t validBits, int32_t rate,
                                int32_t layoutKind);
    void RemovePrimaryBuffer();

    /*
     * Creates the looping streaming buffer of `bufferBytes` (4 to
     * 0x0FFFFFFF) divided into blocks of `blockBytes`. When both events are
     * non-null, `blockEvent` is signalled at the last byte of every block and
     * `stopEvent` when playback stops. Needs a verified primary buffer and no
     * existing streaming buffer.
     */
    int32_t CreateStreamingBuffer(uint32_t bufferBytes, uint32_t blockBytes, HANDLE blockEvent,
                                  HANDLE stopEvent, int32_t channels, uint16_t bits,
                                  uint16_t validBits, int32_t rate, int32_t layoutKind);
    void RemoveStreamingBuffer();

    /* Blocks are numbered from 1 to BlockCount. */
    int32_t LockStreamingBuffer(uint32_t block, void** data, uint32_t* bytes);
    int32_t UnlockStreamingBuffer(uint32_t block);

    int32_t PlayStreamingBuffer();
    int32_t StopStreamingBuffer();
    int32_t ResetStreamingBuffer();
    int32_t RestoreStreamingBuffer();
    /* Either cursor pointer may be null. */
    int32_t GetStreamingBufferPositions(uint32_t* play, uint32_t* write);
    int32_t SetStreamingBufferPosition(uint32_t block);
    /* Hundredths of a decibel, 0 (loudest) to -10000; pointers may be null. */
    int32_t GetStreamingBufferVolume(int32_t* volume, int32_t* maximum, int32_t* minimum);
    int32_t SetStreamingBufferVolume(int32_t volume);

    IDirectSound* DirectSound;
    IDirectSoundBuffer* PrimaryBuffer;
    IDirectSoundBuffer* StreamingBuffer;
    IDirectSoundNotify* StreamingNotify;
    DSBPOSITIONNOTIFY* NotifyPositions;
    DSBUFFERDESC PrimaryDesc;
    WAVEFORMATEX PrimaryFormat;
    WAVEFORMATEXTENSIBLE PrimaryFormatExtensible;
    DSBUFFERDESC StreamingDesc;
    WAVEFORMATEX StreamingFormat;
    WAVEFORMATEXTENSIBLE StreamingFormatExtensible;
    int32_t ApplicationMode;
    HWND Window;
    int32_t InitStatus;
    uint32_t StreamingBufferBytes;
    uint32_t BlockBytes;
    uint32_t BlockCount;
    HANDLE BlockEvent;
    HANDLE StopEvent;
    CdsBlock* Blocks;
    int32_t StreamingBufferCreated;
    int32_t PrimaryBufferCreated;
    const GUID* DeviceGuid;
};

#endif /* MIVO_H */

/*
 * mivo: DirectSound as every part of mivo sees it.
 *
 * On Windows the system's own headers; elsewhere mivo's POSIX declarations
 * of the same records, interfaces and results (mivo_dsound_posix.h). Either
 * way, the identifiers the library, the software device, their tests and
 * clients share are defined here once, so that no GUID library has to be
 * linked.
 */
#ifndef MIVO_DSOUND_H
#define MIVO_DSOUND_H

#if defined(_WIN32)
// <windows.h> first: the other two build on it.
#include <windows.h>

#include <dsound.h>
#include <mmreg.h>
#else
#include "mivo_dsound_posix.h"
#endif

// {00000000-0000-0000-c000-000000000046}
constexpr GUID kIidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {279afa83-4981-11ce-a521-0020af0be560}
constexpr GUID kIidDirectSound = {
    0x279afa83, 0x4981, 0x11ce, {0xa5, 0x21, 0x00, 0x20, 0xaf, 0x0b, 0xe5, 0x60}};
// {279afa85-4981-11ce-a521-0020af0be560}
constexpr GUID kIidDirectSoundBuffer = {
    0x279afa85, 0x4981, 0x11ce, {0xa5, 0x21, 0x00, 0x20, 0xaf, 0x0b, 0xe5, 0x60}};
// {b0210783-89cd-11d0-af08-00a0c925cd16}
constexpr GUID kIidDirectSoundNotify = {
    0xb0210783, 0x89cd, 0x11d0, {0xaf, 0x08, 0x00, 0xa0, 0xc9, 0x25, 0xcd, 0x16}};
// DSDEVID_DefaultPlayback: {def00000-9c6d-47ed-aaf1-4dda8f2b5c03}
constexpr GUID kDefaultPlaybackDevice = {
    0xdef00000, 0x9c6d, 0x47ed, {0xaa, 0xf1, 0x4d, 0xda, 0x8f, 0x2b, 0x5c, 0x03}};
// KSDATAFORMAT_SUBTYPE_PCM: {00000001-0000-0010-8000-00aa00389b71}
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

#endif

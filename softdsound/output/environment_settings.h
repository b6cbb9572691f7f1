// The device's settings from the environment. The device only ever reads
// the environment: a client may read or change it on any thread at any
// time, and the C library gives no way to write it safely meanwhile.
#pragma once

#include <cstdint>

namespace mivo_dsound {

// Which backend to play through: "pulse" or "sdl".
constexpr const char* kBackendSetting = "MIVO_DSOUND_BACKEND";
// A fixed latency at the sound server in milliseconds, instead of the
// adaptive one.
constexpr const char* kLatencySetting = "MIVO_DSOUND_LATENCY_MS";
// The most frames one pull of the output asks for.
constexpr const char* kPeriodSetting = "MIVO_DSOUND_PERIOD_FRAMES";

enum class BackendRequest { kAny, kPulse, kSdl };

// kBackendSetting when it names a backend; otherwise kSdl when the client
// chose SDL's driver (SDL_AUDIODRIVER), kAny when nothing was asked.
BackendRequest RequestedBackend();

// kLatencySetting in 1..2000 ms; 0 (adapt) when unset or anything else.
uint32_t PinnedLatencyMs();

// kPeriodSetting when set to 16..16384 frames; otherwise the smallest power
// of two of at least 1/perSecond of a second at `rate`.
uint32_t PeriodFramesAt(uint32_t rate, uint32_t perSecond);

// About 20 ms, the period every output uses unless it needs more. Block
// events come from the device's pacing thread, not from the output's pulls,
// so the period only bounds what one pull mixes at once (how far the write
// cursor leads the play cursor) and, on SDL, how often its thread and the
// sound server wake.
constexpr uint32_t kPeriodsPerSecond = 50;

}  // namespace mivo_dsound

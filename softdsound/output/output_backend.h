// The seam between the software DirectSound and whatever plays its sound.
// A backend opens outputs; an output runs on its own clock and pulls mixed
// frames from its render target, and says when it is gone. Mixing, format
// conversion, the output clock and notifications are the device's, not the
// backend's: a backend is an audio callback and little more.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "mivo_dsound.h"

namespace mivo_dsound {

// What the device's clock reads. Real backends run on CLOCK_MONOTONIC; the
// test backend runs on a virtual clock that its test moves on.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual int64_t NowNs() const {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
    }
    // True when time moves only when someone moves it: the device then runs
    // no pacing thread of its own, and whoever moves the time calls
    // RenderTarget::Pace after each step.
    virtual bool Virtual() const { return false; }
};

// The device, as an output sees it.
class RenderTarget {
public:
    // Fills `frames` frames of the output's format at `out`; `nowNs` is when
    // the output asked. Called on the output's own thread.
    virtual void Render(uint8_t* out, uint32_t frames, int64_t nowNs) = 0;
    // Mixes and signals whatever falls due by `nowNs` (virtual time only).
    virtual void Pace(int64_t nowNs) = 0;

protected:
    ~RenderTarget() = default;
};

struct OutputFormat {
    uint32_t rate = 48000;
    int channels = 2;
    int bits = 16;  // 8 unsigned; 16, 32 signed; 24 travels in 32-bit containers
    DWORD channelMask = 0x3;
    bool floating = false;  // 32-bit float samples, full scale at +-1.0
};

// Bytes a sample and a frame of `format` take on the output.
inline uint32_t OutputSampleBytes(const OutputFormat& format) {
    return format.bits == 24 ? 4 : static_cast<uint32_t>(format.bits / 8);
}
inline uint32_t OutputFrameBytes(const OutputFormat& format) {
    return OutputSampleBytes(format) * static_cast<uint32_t>(format.channels);
}

// Latency at the sound server, in frames of the output's rate.
struct OutputLatency {
    uint32_t targetFrames = 0;    // the buffer the output asks the server to hold
    uint32_t reportedFrames = 0;  // buffer and sink, as the server last reported
};

class Output {
public:
    virtual ~Output() = default;
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // What the output plays, which the device mixes to: the format it was
    // asked for, or the sound server's own where the backend mixes there.
    virtual const OutputFormat& Format() const = 0;
    // The most frames one pull asks for: the write cursor leads the play
    // cursor by this much, since one pull may mix that far at once.
    virtual uint32_t PeriodFrames() const = 0;
    // Frames the output reads at once when it starts (a server's buffer);
    // the output clock starts past them.
    virtual uint32_t StartFrames() const = 0;
    // Starts pulling; false when the output will not run.
    virtual bool Start() = 0;
    // No pull is running or will run once this returns.
    virtual void Stop() = 0;
    // True once the output is gone for good (unplugged, server away).
    virtual bool Lost() const = 0;
    // What a server-buffered output knows of its latency; false otherwise.
    virtual bool Latency(OutputLatency& latency) const {
        (void)latency;
        return false;
    }
    // Server underflows since the output opened.
    virtual uint32_t Underruns() const { return 0; }
    // For tests, on a server-buffered output: refills stop for `holdNs`, and
    // a quiet spell lasts `quietNs` when above 0. False elsewhere.
    virtual bool Starve(int64_t holdNs, int64_t quietNs) {
        (void)holdNs;
        (void)quietNs;
        return false;
    }
};

// One output a backend can open by name.
struct OutputInfo {
    std::string name;         // the backend's own name for it (a sink's name)
    std::string description;  // for people
    int channels = 0;         // its speakers, 0 when unknown
};

class OutputBackend : public TimeSource {
public:
    virtual const char* Name() const = 0;
    // The outputs there are now, or none when the backend cannot tell.
    virtual std::vector<OutputInfo> ListOutputs() { return {}; }
    // Opens the output called `name` in `format`, not yet started; null on
    // failure. An empty name is the system's default output, which the
    // stream follows when the default changes, where the backend can. The
    // target must outlive the output.
    virtual std::unique_ptr<Output> Open(const OutputFormat& format, const std::string& name,
                                         RenderTarget& target) = 0;
};

// The backend this process should play through, or null when none works.
// See the device's README for how it is chosen.
std::unique_ptr<OutputBackend> ChooseBackend();

}  // namespace mivo_dsound

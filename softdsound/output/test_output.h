// A backend for tests, on a virtual clock: nothing plays and no thread runs.
// The test moves time on, and the open output pulls what that time would
// have played, one period at a time, into memory.
#pragma once

#include <cstdint>
#include <vector>

#include "latency_policy.h"
#include "output_backend.h"

namespace mivo_dsound {

class TestOutput;

class TestBackend final : public OutputBackend {
public:
    struct Settings {
        uint32_t periodFrames = 240;  // 5 ms at 48 kHz
        uint32_t startFrames = 240;
        bool keepPlayed = true;  // false: what plays is counted, not kept
        // The format every output plays, whatever it was asked for, as a
        // sound server's sink (rate 0: the format asked for).
        OutputFormat deviceFormat{0, 0, 0, 0, false};
    };

    TestBackend() = default;
    explicit TestBackend(const Settings& settings) : settings_(settings) {}
    ~TestBackend() override;
    TestBackend(const TestBackend&) = delete;
    TestBackend& operator=(const TestBackend&) = delete;

    const char* Name() const override { return "test"; }
    int64_t NowNs() const override { return nowNs_; }
    bool Virtual() const override { return true; }
    std::vector<OutputInfo> ListOutputs() override { return outputs_; }
    std::unique_ptr<Output> Open(const OutputFormat& format, const std::string& name,
                                 RenderTarget& target) override;

    // Plays `frames` frames of the open output's format: time moves on a
    // period at a time, the device is paced, then the period is pulled.
    void Play(uint64_t frames);
    // Time moves on by `ns` with nothing pulled or paced, as when the whole
    // process is stopped.
    void Stall(int64_t ns);
    // The open output goes away; the next `failingOpens` opens fail too.
    void Lose(int failingOpens = 0);
    // The server ran out now: the open output's latency policy hears of it,
    // as a server-buffered output's does. Its Latency reports the target,
    // and so does the server, which holds just what it is asked to.
    void Underflow();
    void FailOpens(int count) { failingOpens_ = count; }
    // The outputs it lists and opens by name, besides the default ("").
    void SetOutputs(std::vector<OutputInfo> outputs) { outputs_ = std::move(outputs); }
    const std::string& OpenedName() const { return openedName_; }

    bool HasOutput() const { return output_ != nullptr; }
    const OutputFormat& Format() const { return format_; }
    const std::vector<uint8_t>& Played() const { return played_; }
    uint64_t FramesPlayed() const { return framesPlayed_; }
    void ClearPlayed() { played_.clear(); }

private:
    friend class TestOutput;

    Settings settings_;
    int64_t nowNs_ = 1000000000;
    // Time is kept as whole frames at the output's rate since `baseNs_`, so
    // that steps of a period add up without drift.
    int64_t baseNs_ = 1000000000;
    uint64_t framesSinceBase_ = 0;
    TestOutput* output_ = nullptr;
    OutputFormat format_;
    int failingOpens_ = 0;
    std::vector<OutputInfo> outputs_;
    std::string openedName_;
    bool lost_ = false;
    std::vector<uint8_t> played_;
    std::vector<uint8_t> scratch_;
    uint64_t framesPlayed_ = 0;
};

}  // namespace mivo_dsound

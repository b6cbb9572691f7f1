// A backend for tests, on a virtual clock: nothing plays and no thread runs.
// The test moves time on, and each open output (one stream an output name)
// pulls what that time would have played, one period at a time, into memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
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
    int64_t NowNs() const override { return nowNs_.load(std::memory_order_relaxed); }
    bool Virtual() const override { return true; }
    std::vector<OutputInfo> ListOutputs() override { return outputs_; }
    std::unique_ptr<Output> Open(const OutputFormat& format, const std::string& name,
                                 RenderTarget& target) override;

    // Plays `frames` frames on every open output: time moves on a period at
    // a time, each output's device is paced, then the period is pulled.
    void Play(uint64_t frames);
    // Time moves on by `ns` with nothing pulled or paced, as when the whole
    // process is stopped.
    void Stall(int64_t ns);
    // The open outputs go away; the next `failingOpens` opens fail too.
    void Lose(int failingOpens = 0);
    // The server ran out now: each open output's latency policy hears of it,
    // as a server-buffered output's does. Its Latency reports the target,
    // and so does the server, which holds just what it is asked to.
    void Underflow();
    void FailOpens(int count) { failingOpens_ = count; }
    // The outputs it lists and opens by name, besides the default ("").
    void SetOutputs(std::vector<OutputInfo> outputs) { outputs_ = std::move(outputs); }
    const std::string& OpenedName() const { return openedName_; }
    // Outputs opened so far.
    uint32_t Opens() const { return opens_; }

    bool HasOutput() const;
    // The format of the output opened last.
    const OutputFormat& Format() const { return format_; }
    // What the output called `name` has played (empty: the default).
    const std::vector<uint8_t>& Played(const std::string& name = "");
    uint64_t FramesPlayed() const { return framesPlayed_; }
    void ClearPlayed() { played_.clear(); }

private:
    friend class TestOutput;

    Settings settings_;
    // Read by any thread a device is used from; moved only by the test's.
    std::atomic<int64_t> nowNs_{1000000000};
    // Time is kept as whole frames at the output's rate since `baseNs_`, so
    // that steps of a period add up without drift.
    int64_t baseNs_ = 1000000000;
    uint64_t framesSinceBase_ = 0;
    std::vector<TestOutput*> open_;
    OutputFormat format_;
    int failingOpens_ = 0;
    std::vector<OutputInfo> outputs_;
    std::string openedName_;
    uint32_t opens_ = 0;
    bool lost_ = false;
    std::map<std::string, std::vector<uint8_t>> played_;
    std::vector<uint8_t> scratch_;
    uint64_t framesPlayed_ = 0;
};

}  // namespace mivo_dsound

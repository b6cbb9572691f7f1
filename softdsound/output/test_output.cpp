#include "test_output.h"

#include <algorithm>

#include "environment_settings.h"

namespace mivo_dsound {

// The backend drives its one output directly: the output is only what the
// device holds of it.
class TestOutput final : public Output {
public:
    TestOutput(TestBackend& backend, const OutputFormat& format, RenderTarget& target)
        : format_(format),
          target_(target),
          policy_(format.rate, PinnedLatencyMs(), backend.NowNs()),
          backend_(backend) {}
    ~TestOutput() override { backend_.output_ = nullptr; }

    const OutputFormat& Format() const override { return format_; }
    uint32_t PeriodFrames() const override { return backend_.settings_.periodFrames; }
    uint32_t StartFrames() const override { return backend_.settings_.startFrames; }
    bool Start() override {
        started_ = true;
        return true;
    }
    void Stop() override { started_ = false; }
    bool Lost() const override { return backend_.lost_; }
    bool Latency(OutputLatency& latency) const override {
        latency.targetFrames = policy_.TargetFrames();
        latency.reportedFrames = policy_.TargetFrames();
        return true;
    }
    uint32_t Underruns() const override { return underruns_; }

    bool started_ = false;
    const OutputFormat format_;
    RenderTarget& target_;
    LatencyPolicy policy_;
    uint32_t underruns_ = 0;

private:
    TestBackend& backend_;
};

TestBackend::~TestBackend() {
    if (output_ != nullptr) output_->started_ = false;
}

std::unique_ptr<Output> TestBackend::Open(const OutputFormat& format, const std::string& name,
                                          RenderTarget& target) {
    if (failingOpens_ > 0) {
        --failingOpens_;
        return nullptr;
    }
    const bool known =
        name.empty() || std::any_of(outputs_.begin(), outputs_.end(),
                                    [&](const OutputInfo& o) { return o.name == name; });
    if (!known) return nullptr;
    openedName_ = name;
    if (output_ != nullptr) return nullptr;  // one output at a time, as a test sees it
    // A fixed device format plays whatever was asked, as a sound server's
    // sink does.
    format_ = settings_.deviceFormat.rate != 0 ? settings_.deviceFormat : format;
    auto output = std::make_unique<TestOutput>(*this, format_, target);
    output_ = output.get();
    lost_ = false;
    baseNs_ = nowNs_;
    framesSinceBase_ = 0;
    return output;
}

void TestBackend::Play(uint64_t frames) {
    if (output_ == nullptr || !output_->started_ || lost_) return;
    const uint64_t frameBytes = OutputFrameBytes(format_);
    while (frames > 0) {
        const auto step = static_cast<uint32_t>(std::min<uint64_t>(frames, settings_.periodFrames));
        framesSinceBase_ += step;
        nowNs_ = baseNs_ + static_cast<int64_t>(framesSinceBase_ * 1000000000 / format_.rate);
        output_->policy_.Quiet(nowNs_);
        output_->target_.Pace(nowNs_);
        scratch_.resize(step * frameBytes);
        output_->target_.Render(scratch_.data(), step, nowNs_);
        if (settings_.keepPlayed) played_.insert(played_.end(), scratch_.begin(), scratch_.end());
        framesPlayed_ += step;
        frames -= step;
    }
}

void TestBackend::Stall(int64_t ns) {
    nowNs_ += ns;
    // The output's own timeline restarts after the stall.
    baseNs_ = nowNs_;
    framesSinceBase_ = 0;
}

void TestBackend::Lose(int failingOpens) {
    lost_ = true;
    failingOpens_ = failingOpens;
}

void TestBackend::Underflow() {
    if (output_ == nullptr || !output_->started_) return;
    ++output_->underruns_;
    output_->policy_.Underflow(nowNs_);
}

}  // namespace mivo_dsound

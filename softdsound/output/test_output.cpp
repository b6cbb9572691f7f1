#include "test_output.h"

#include <algorithm>
#include <utility>

#include "environment_settings.h"

namespace mivo_dsound {

// The backend drives its one output directly: the output is only what the
// device holds of it.
class TestOutput final : public Output {
public:
    TestOutput(TestBackend& backend, std::string name, const OutputFormat& format,
               RenderTarget& target)
        : name_(std::move(name)),
          format_(format),
          target_(target),
          policy_(format.rate, PinnedLatencyMs(), backend.NowNs()),
          backend_(backend) {}
    ~TestOutput() override {
        auto& open = backend_.open_;
        open.erase(std::remove(open.begin(), open.end(), this), open.end());
    }

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
    const std::string name_;
    const OutputFormat format_;
    RenderTarget& target_;
    LatencyPolicy policy_;
    uint32_t underruns_ = 0;

private:
    TestBackend& backend_;
};

TestBackend::~TestBackend() {
    for (TestOutput* output : open_) output->started_ = false;
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
    // One stream an output, as a test sees it.
    if (std::any_of(open_.begin(), open_.end(),
                    [&](const TestOutput* o) { return o->name_ == name; })) {
        return nullptr;
    }
    // A fixed device format plays whatever was asked, as a sound server's
    // sink does.
    format_ = settings_.deviceFormat.rate != 0 ? settings_.deviceFormat : format;
    auto output = std::make_unique<TestOutput>(*this, name, format_, target);
    if (open_.empty()) {
        lost_ = false;
        baseNs_ = NowNs();
        framesSinceBase_ = 0;
    }
    open_.push_back(output.get());
    ++opens_;
    return output;
}

bool TestBackend::HasOutput() const { return !open_.empty(); }

const std::vector<uint8_t>& TestBackend::Played(const std::string& name) { return played_[name]; }

void TestBackend::Play(uint64_t frames) {
    // Time runs at the rate of the first output; every output plays as
    // many frames.
    if (open_.empty() || !open_.front()->started_ || lost_) return;
    const uint32_t rate = open_.front()->format_.rate;
    while (frames > 0) {
        const auto step = static_cast<uint32_t>(std::min<uint64_t>(frames, settings_.periodFrames));
        framesSinceBase_ += step;
        nowNs_ = baseNs_ + static_cast<int64_t>(framesSinceBase_ * 1000000000 / rate);
        // An output may close while another pulls (its device released).
        const std::vector<TestOutput*> playing = open_;
        for (TestOutput* output : playing) {
            if (std::find(open_.begin(), open_.end(), output) == open_.end()) continue;
            if (!output->started_) continue;
            output->policy_.Quiet(NowNs());
            output->target_.Pace(NowNs());
            scratch_.resize(size_t{step} * OutputFrameBytes(output->format_));
            output->target_.Render(scratch_.data(), step, NowNs());
            if (!settings_.keepPlayed) continue;
            std::vector<uint8_t>& played = played_[output->name_];
            played.insert(played.end(), scratch_.begin(), scratch_.end());
        }
        framesPlayed_ += step;
        frames -= step;
    }
}

void TestBackend::Stall(int64_t ns) {
    nowNs_ += ns;
    // The output's own timeline restarts after the stall.
    baseNs_ = NowNs();
    framesSinceBase_ = 0;
}

void TestBackend::Lose(int failingOpens) {
    lost_ = true;
    failingOpens_ = failingOpens;
}

void TestBackend::Underflow() {
    for (TestOutput* output : open_) {
        if (!output->started_) continue;
        ++output->underruns_;
        output->policy_.Underflow(NowNs());
    }
}

}  // namespace mivo_dsound

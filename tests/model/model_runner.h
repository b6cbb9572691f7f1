// Random operation sequences against CdsObject over the fake platform, each
// checked against a small reference model of the object's states while the
// platform fails random calls. Shared by the seeded random test and the
// fuzzer, which differ only in where their choices come from.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mivo.h"

namespace model {

// Where the runner's choices come from.
class Source {
public:
    virtual ~Source() = default;
    // A value in [0, bound); bound > 0.
    virtual uint32_t Below(uint32_t bound) = 0;
    // False once a finite source has nothing left.
    virtual bool More() const { return true; }

    bool Percent(uint32_t chance) { return Below(100) < chance; }

protected:
    Source() = default;
    Source(const Source&) = default;
    Source& operator=(const Source&) = default;
};

class SeededSource final : public Source {
public:
    explicit SeededSource(uint64_t seed) : engine_(seed) {}
    uint32_t Below(uint32_t bound) override { return static_cast<uint32_t>(engine_() % bound); }

private:
    std::mt19937_64 engine_;
};

// Reads choices from fuzzer input; answers 0 once the input is used up.
class ByteSource final : public Source {
public:
    ByteSource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint32_t Below(uint32_t bound) override;
    bool More() const override { return position_ < size_; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// What the model expects of one object.
struct ObjectModel {
    bool live = false;
    int32_t status = 0;
    int32_t mode = -1;
    bool primary = false;
    bool streaming = false;
    uint32_t blockCount = 0;
    uint32_t blockBytes = 0;
    std::vector<bool> locked;
};

struct Totals {
    uint64_t operations = 0;
    uint64_t sequences = 0;
    uint64_t faults = 0;     // platform calls told to fail or give null
    uint64_t streaming = 0;  // operations on an object with a usable streaming buffer
};

class Runner {
public:
    explicit Runner(Source& source) : source_(source) {}

    // Runs up to `steps` operations, then destroys every object and checks
    // that nothing leaked. Returns "" or a report ending in the sequence, as
    // lines of C++ for a regression test.
    std::string RunSequence(int steps);

    const Totals& totals() const { return totals_; }

private:
    static constexpr std::size_t kSlots = 3;

    std::string Step();
    std::string Construct(std::size_t slot);
    std::string Destroy(std::size_t slot);
    std::string SetMode(std::size_t slot);
    std::string Speakers(std::size_t slot);
    std::string CreatePrimary(std::size_t slot);
    std::string CreateStreaming(std::size_t slot);
    std::string Lock(std::size_t slot);
    std::string Unlock(std::size_t slot);
    std::string Play(std::size_t slot);
    std::string SingleCall(std::size_t slot);
    std::string Positions(std::size_t slot);
    std::string Volume(std::size_t slot);

    // One platform result: mostly DS_OK, sometimes a failure (success codes
    // other than DS_OK included), scripted for `call` and noted in the trace.
    HRESULT Fault();
    bool Fails(const std::string& call, int attempts = 1);
    bool NullOutput(const std::string& call);
    uint32_t Edge(const std::vector<uint32_t>& edges, uint32_t randomBound);

    std::string Compare(const char* what, int64_t got, int64_t expected);
    std::string CheckState(std::size_t slot);
    void Trace(const std::string& line) { trace_.push_back(line); }
    std::string Report(const std::string& problem) const;

    Source& source_;
    std::array<std::unique_ptr<CdsObject>, kSlots> objects_;
    std::array<ObjectModel, kSlots> models_;
    bool libraryLoaded_ = false;
    std::vector<std::string> trace_;
    Totals totals_;
};

}  // namespace model

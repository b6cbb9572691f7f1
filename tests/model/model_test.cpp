// Seeded random operation sequences checked against the reference model.
// MIVO_MODEL_SEED=N replays one sequence; MIVO_MODEL_SEQUENCES and
// MIVO_MODEL_STEPS change how much runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "model/model_runner.h"

namespace {

uint64_t Setting(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::strtoull(text, nullptr, 10) : fallback;
}

TEST(ModelTest, RandomSequencesWithInjectedFaultsMatchTheModel) {
    const uint64_t sequences = Setting("MIVO_MODEL_SEQUENCES", 250);
    const auto steps = static_cast<int>(Setting("MIVO_MODEL_STEPS", 500));
    const char* only = std::getenv("MIVO_MODEL_SEED");
    const uint64_t first = only != nullptr ? std::strtoull(only, nullptr, 10) : 1;
    const uint64_t last = only != nullptr ? first : first + sequences - 1;

    model::Totals totals;
    for (uint64_t seed = first; seed <= last; ++seed) {
        model::SeededSource source(seed);
        model::Runner runner(source);
        const std::string problem = runner.RunSequence(steps);
        totals.operations += runner.totals().operations;
        totals.sequences += runner.totals().sequences;
        totals.faults += runner.totals().faults;
        totals.streaming += runner.totals().streaming;
        if (!problem.empty()) {
            FAIL() << "seed " << seed << " (replay with MIVO_MODEL_SEED=" << seed
                   << "): " << problem;
        }
    }
    std::cout << "model: " << totals.sequences << " sequences, " << totals.operations
              << " operations (" << totals.streaming << " with a streaming buffer), "
              << totals.faults << " injected faults\n";
    EXPECT_GE(totals.operations, only != nullptr ? 1u : 100000u);
}

}  // namespace

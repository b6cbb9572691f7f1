// libFuzzer target: the input bytes choose the operations, their arguments
// and the platform's failures, success codes other than DS_OK among them;
// any disagreement with the model, leak, or sanitizer finding is a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "model/model_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    model::ByteSource source(data, size);
    model::Runner runner(source);
    const std::string problem = runner.RunSequence(1 << 20);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}

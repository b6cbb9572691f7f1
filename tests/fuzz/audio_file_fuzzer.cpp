// libFuzzer target over mivo-play's reading of sound files: any bytes, handed
// to libsndfile through its virtual I/O as if they were a file, are opened,
// checked and read to the end in the PCM mivo streams. Any crash, leak or
// sanitizer finding fails, and so does a format mivo cannot play or a read
// that returns other than whole frames within the block asked for.
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sound_file.h"

namespace {

// Enough to reach the end of anything a small input holds, short of the
// hours of silence a header can claim.
constexpr uint64_t kMostFrames = 1u << 20;
constexpr uint32_t kBlockFrames = 960;

struct Memory {
    const uint8_t* data;
    sf_count_t size;
    sf_count_t at;
};

sf_count_t Length(void* context) { return static_cast<Memory*>(context)->size; }

sf_count_t Seek(sf_count_t offset, int whence, void* context) {
    auto& memory = *static_cast<Memory*>(context);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? memory.at : memory.size;
    if (offset < -base) return -1;
    memory.at = base + offset;
    return memory.at;
}

sf_count_t Read(void* out, sf_count_t count, void* context) {
    auto& memory = *static_cast<Memory*>(context);
    const sf_count_t left = memory.at < memory.size ? memory.size - memory.at : 0;
    const sf_count_t take = count < left ? count : left;
    if (take > 0) std::memcpy(out, memory.data + memory.at, static_cast<size_t>(take));
    memory.at += take;
    return take;
}

sf_count_t Write(const void*, sf_count_t, void*) { return 0; }

sf_count_t Tell(void* context) { return static_cast<Memory*>(context)->at; }

void Fail(const char* what) {
    std::fprintf(stderr, "audio_file_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

// libsndfile loses libvorbis's stream information when an Ogg file breaks
// off inside its headers (plain sf_open does the same). Those stacks end
// inside libvorbis, which has no frame pointers, so only its name can match
// them; a source that failed to close its file would still leak
// libsndfile's own records.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libvorbis.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Memory memory{data, static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{&Length, &Seek, &Read, &Write, &Tell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (file == nullptr) return 0;
    std::string error;
    const std::unique_ptr<PcmSource> source = ReadSoundFile(file, info, "input", error);
    if (!source) {
        if (error.empty()) Fail("refused without a message");
        return 0;
    }
    const PcmFormat& format = source->Format();
    const bool widthOk = (format.bits == 16 && format.validBits == 16) ||
                         (format.bits == 32 && (format.validBits == 24 || format.validBits == 32));
    if (format.channels < 1 || format.channels > 8 || !widthOk || format.rate <= 0 ||
        (format.layoutKind != 0 && format.channels != 3)) {
        Fail("a format mivo cannot play");
    }
    std::vector<uint8_t> block(size_t{kBlockFrames} * format.FrameBytes());
    for (uint64_t frames = 0; frames < kMostFrames;) {
        const size_t got = source->Read(block.data(), block.size());
        if (got == 0) break;
        if (got > block.size() || got % format.FrameBytes() != 0) Fail("a read of part of a frame");
        frames += got / format.FrameBytes();
    }
    return 0;
}

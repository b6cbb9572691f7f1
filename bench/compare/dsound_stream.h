// One CdsObject streaming the workload through its four-block looping
// buffer, refilled block by block as the client learns from the block event
// and the play cursor which blocks have played.
#pragma once

#include <cstdint>
#include <string>

#include "mivo.h"
#include "platform_shim.h"
#include "run_log.h"
#include "workload.h"

namespace compare {

class DsoundStream {
public:
    // `toneBlocks` blocks of tone (or of silence, for a stream without the
    // tone) and then kTailBlocks of silence. `name` prefixes the stream's
    // failures in the log.
    DsoundStream(uint32_t blockBytes, uint32_t toneBlocks, bool tone, std::string name);
    DsoundStream(const DsoundStream&) = delete;
    DsoundStream& operator=(const DsoundStream&) = delete;
    ~DsoundStream() = default;

    // Opens the device, sets the formats and fills the whole buffer; says
    // why on stderr when it cannot.
    bool Open();
    bool Play(RunLog& log);
    // Handles this stream's block event, seen at `woke`: refills every block
    // that has played since the last one. With `timings`, the blocks'
    // timings go to the log. False (and a failure logged) when the device
    // cannot tell where it plays.
    bool Serve(int64_t woke, RunLog& log, bool timings);
    bool Stop(RunLog& log);

    bool Finished() const { return done_ >= lastBlock_; }
    uint32_t Done() const { return done_; }
    CdsObject& Sound() { return sound_; }
    const ClientEvent& BlockEvent() const { return blockEvent_; }

private:
    bool Fill(uint32_t block, bool silent);

    // The events outlive the device that signals them.
    ClientEvent blockEvent_;
    ClientEvent stopEvent_;
    CdsObject sound_;
    Tone tone_;
    std::string name_;
    uint32_t blockBytes_;
    uint32_t toneBlocks_;
    uint32_t lastBlock_;
    bool hasTone_;
    uint32_t written_ = kBlocksPerBuffer;  // blocks handed over, tone or silence
    uint32_t done_ = 0;                    // blocks seen played
    uint32_t nextRefill_ = 0;              // buffer slot of the oldest unplayed block
};

}  // namespace compare

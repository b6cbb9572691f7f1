#include "run_log.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "platform_shim.h"
#include "workload.h"

namespace compare {

void CpuWindow::Start() {
    processes_.clear();
    processes_.push_back({"self", 0, 0, false});
    if (const char* pids = std::getenv("MIVO_COMPARE_SERVER_PIDS")) {
        std::string list = pids;
        for (char& c : list) {
            if (c == ',') c = ' ';
        }
        std::istringstream words(list);
        std::string pid;
        while (words >> pid) processes_.push_back({pid, 0, 0, false});
    }
    // The servers first, so that the process's own reading is the last one
    // before the timed stretch begins.
    for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
        it->readable = ReadCpuTicks(it->pid, it->before);
    }
}

void CpuWindow::Stop() {
    for (Process& p : processes_) {
        p.readable = p.readable && ReadCpuTicks(p.pid, p.after);
    }
}

std::string CpuWindow::Describe() const {
    std::string text;
    for (const Process& p : processes_) {
        const long long ticks = p.readable ? static_cast<long long>(p.after - p.before) : -1;
        text += "cpu_ticks " + p.pid + " " + std::to_string(ticks) + "\n";
    }
    return text;
}

RunLog::RunLog(std::string contender, uint32_t blockFrames, uint32_t toneBlocks)
    : contender_(std::move(contender)), blockFrames_(blockFrames), toneBlocks_(toneBlocks) {
    // Reserved up front so that recording never allocates on the timed path;
    // what does not fit is dropped.
    blocks_.reserve(toneBlocks + kTailBlocks + 16);
    emptyWakes_.reserve(blocks_.capacity());
    const double seconds = static_cast<double>(toneBlocks) * BlockMs(blockFrames) / 1000.0;
    latencies_.reserve(static_cast<size_t>(seconds * 4) + 16);
}

void RunLog::BlockDone(uint32_t block, int64_t wakeNs, int64_t cursorPastBytes) {
    if (blocks_.size() < blocks_.capacity()) {
        blocks_.push_back({block, wakeNs - playNs_, cursorPastBytes});
    }
}

void RunLog::EmptyWake(int64_t wakeNs) {
    if (emptyWakes_.size() < emptyWakes_.capacity()) emptyWakes_.push_back(wakeNs - playNs_);
}

void RunLog::OutputLatency(int64_t nowNs, uint32_t targetFrames, uint32_t reportedFrames) {
    if (latencies_.size() < latencies_.capacity()) {
        latencies_.push_back({nowNs - playNs_, targetFrames, reportedFrames});
    }
}

bool RunLog::Write(const std::string& path) const {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    std::fprintf(file, "contender %s\nblock_ms %g\nblock_frames %u\nrate %d\ntone_blocks %u\n",
                 contender_.c_str(), BlockMs(blockFrames_), blockFrames_, kRate, toneBlocks_);
    std::fprintf(file, "played_ns %lld\n", static_cast<long long>(endNs_ - playNs_));
    std::fprintf(file, "play_realtime_ns %lld\n", static_cast<long long>(playRealtimeNs_));
    std::fprintf(file, "streams %u\nevents %llu\n", streams_,
                 static_cast<unsigned long long>(events_));
    std::fputs(cpu_.Describe().c_str(), file);
    for (const std::string& f : failures_) std::fprintf(file, "failure %s\n", f.c_str());
    for (const Block& b : blocks_) {
        std::fprintf(file, "block %u %lld %lld\n", b.block, static_cast<long long>(b.wakeNs),
                     static_cast<long long>(b.cursorPastBytes));
    }
    for (const int64_t ns : emptyWakes_) {
        std::fprintf(file, "wake_empty %lld\n", static_cast<long long>(ns));
    }
    if (latencyUnsupported_) std::fputs("output_latency unsupported\n", file);
    for (const Latency& l : latencies_) {
        std::fprintf(file, "output_latency %lld %u %u\n", static_cast<long long>(l.atNs),
                     l.targetFrames, l.reportedFrames);
    }
    const bool ok = std::ferror(file) == 0;
    return std::fclose(file) == 0 && ok;
}

}  // namespace compare

#include "model/model_runner.h"

#include <sstream>

#include "fake/fake_platform.h"

namespace model {

namespace {

fake::Platform& Fake() { return fake::Platform::Get(); }

HWND Window() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000)); }
HANDLE Event(int fd) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd)); }

int32_t SpeakerCount(DWORD configuration) {
    constexpr int32_t kTable[] = {0, 2, 1, 4, 2, 5, 6, 8};
    return configuration < 8 ? kTable[configuration] : 2;
}

// Error codes, and success codes other than DS_OK: those fail the library's
// step all the same, but CreateSoundBuffer and QueryInterface hand back a
// live object with them, which the library must release.
const HRESULT kFailures[] = {E_FAIL, DSERR_BUFFERLOST, DSERR_INVALIDPARAM, HRESULT{1},
                             DS_NO_VIRTUALIZATION};

// Whatever object named `name` a failed creation was handed since `before`
// was the latest must be released already, and only once.
std::string ReleasedAfterFailure(const char* name, const fake::ObjectRecord* before) {
    const fake::ObjectRecord* latest = Fake().Object(name);
    if (latest == before || (latest->refs == 0 && !latest->overReleased)) return {};
    return std::string("failed creation left ") + name + " with " + std::to_string(latest->refs) +
           " refs" + (latest->overReleased ? ", released past zero" : "");
}

}  // namespace

uint32_t ByteSource::Below(uint32_t bound) {
    uint32_t value = 0;
    for (int i = 0; i < 4 && position_ < size_; ++i) value = (value << 8) | data_[position_++];
    return value % bound;
}

std::string Runner::RunSequence(int steps) {
    Fake().Reset();
    trace_.clear();
    libraryLoaded_ = false;
    ++totals_.sequences;
    std::string problem;
    for (int i = 0; i < steps && problem.empty() && source_.More(); ++i) {
        problem = Step();
        ++totals_.operations;
        Fake().ClearScripts();
        Fake().ClearCalls();
    }
    for (std::size_t slot = 0; slot < kSlots && problem.empty(); ++slot) {
        if (models_[slot].live) problem = Destroy(slot);
    }
    if (problem.empty()) {
        const std::string leaks = Fake().Leaks();
        if (!leaks.empty()) problem = "leak check: " + leaks;
    }
    // Whatever happened, leave nothing behind for the next sequence.
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        objects_[slot].reset();
        models_[slot] = ObjectModel{};
    }
    return problem.empty() ? problem : Report(problem);
}

std::string Runner::Step() {
    const auto slot = static_cast<std::size_t>(source_.Below(kSlots));
    if (!models_[slot].live) return Construct(slot);
    const ObjectModel& m = models_[slot];
    if (m.status == CdsStatusReady && m.primary && m.streaming) ++totals_.streaming;
    // Lean towards building the buffers, so that most sequences spend most
    // of their steps where there is the most to go wrong.
    if (m.status == CdsStatusReady && !(m.primary && m.streaming) && source_.Percent(40)) {
        return m.primary ? CreateStreaming(slot) : CreatePrimary(slot);
    }
    switch (source_.Below(20)) {
        case 0: return source_.Percent(30) ? Destroy(slot) : Speakers(slot);
        case 1: return SetMode(slot);
        case 2: return Speakers(slot);
        case 3:
        case 4: return CreatePrimary(slot);
        case 5:
            Trace("o[" + std::to_string(slot) + "]->RemovePrimaryBuffer();");
            objects_[slot]->RemovePrimaryBuffer();
            models_[slot].primary = false;
            return CheckState(slot);
        case 6:
        case 7: return CreateStreaming(slot);
        case 8:
            Trace("o[" + std::to_string(slot) + "]->RemoveStreamingBuffer();");
            objects_[slot]->RemoveStreamingBuffer();
            models_[slot].streaming = false;
            models_[slot].blockCount = models_[slot].blockBytes = 0;
            models_[slot].locked.clear();
            return CheckState(slot);
        case 9:
        case 10:
        case 11: return Lock(slot);
        case 12:
        case 13: return Unlock(slot);
        case 14: return Play(slot);
        case 15:
        case 16: return SingleCall(slot);
        case 17: return Positions(slot);
        default: return Volume(slot);
    }
}

HRESULT Runner::Fault() {
    if (!source_.Percent(8)) return DS_OK;
    ++totals_.faults;
    return kFailures[source_.Below(sizeof kFailures / sizeof kFailures[0])];
}

bool Runner::Fails(const std::string& call, int attempts) {
    std::vector<HRESULT> results;
    bool all = true;
    for (int i = 0; i < attempts; ++i) {
        results.push_back(Fault());
        all = all && results.back() != DS_OK;
    }
    std::ostringstream line;
    line << "fake().Script(\"" << call << "\", {";
    for (std::size_t i = 0; i < results.size(); ++i) line << (i ? ", " : "") << results[i];
    line << "});";
    Trace(line.str());
    Fake().Script(call, results);
    // With several attempts, the call fails only when every attempt does.
    return attempts == 1 ? results[0] != DS_OK : all;
}

bool Runner::NullOutput(const std::string& call) {
    if (!source_.Percent(5)) return false;
    ++totals_.faults;
    Trace("fake().NullOutput(\"" + call + "\");");
    Fake().NullOutput(call);
    return true;
}

uint32_t Runner::Edge(const std::vector<uint32_t>& edges, uint32_t randomBound) {
    if (source_.Percent(50)) return edges[source_.Below(static_cast<uint32_t>(edges.size()))];
    return source_.Below(randomBound);
}

std::string Runner::Compare(const char* what, int64_t got, int64_t expected) {
    if (got == expected) return {};
    std::ostringstream text;
    text << what << ": library " << got << ", model " << expected;
    return text.str();
}

std::string Runner::CheckState(std::size_t slot) {
    const CdsObject& o = *objects_[slot];
    const ObjectModel& m = models_[slot];
    std::string problem = Compare("InitStatus", o.InitStatus, m.status);
    if (problem.empty()) problem = Compare("ApplicationMode", o.ApplicationMode, m.mode);
    if (problem.empty())
        problem = Compare("PrimaryBufferCreated", o.PrimaryBufferCreated, m.primary);
    if (problem.empty()) {
        problem = Compare("StreamingBufferCreated", o.StreamingBufferCreated, m.streaming);
    }
    if (problem.empty()) problem = Compare("BlockCount", o.BlockCount, m.blockCount);
    for (uint32_t i = 0; problem.empty() && i < m.blockCount; ++i) {
        problem = Compare("Locked", o.Blocks[i].Locked, m.locked[i] ? 1 : 0);
    }
    if (problem.empty() && (o.PrimaryBuffer == nullptr) == m.primary) {
        problem = "primary buffer pointer does not match the flag";
    }
    return problem;
}

std::string Runner::Report(const std::string& problem) const {
    std::ostringstream report;
    report << problem << "\nsequence:\n";
    for (const auto& line : trace_) report << "  " << line << "\n";
    return report.str();
}

std::string Runner::Construct(std::size_t slot) {
    ObjectModel& m = models_[slot];
    const bool window = source_.Percent(90);
    m = ObjectModel{};
    m.live = true;
    m.status = CdsStatusReady;
    if (!window) {
        m.status = CdsStatusNoWindow;
    } else {
        if (!libraryLoaded_) {
            if (NullOutput("LoadLibraryA")) m.status = CdsStatusNoLibrary;
            libraryLoaded_ = m.status == CdsStatusReady;
        }
        if (m.status == CdsStatusReady && NullOutput("GetProcAddress")) {
            m.status = CdsStatusNoEntryPoint;
        }
        if (m.status == CdsStatusReady) {
            const bool failed = Fails("DirectSoundCreate");
            const bool null = NullOutput("DirectSoundCreate");
            if (failed || null) m.status = CdsStatusNoDevice;
        }
    }
    Trace("o[" + std::to_string(slot) + "] = std::make_unique<CdsObject>(" +
          (window ? "TestWindow()" : "nullptr") + ", nullptr);");
    objects_[slot] = std::make_unique<CdsObject>(window ? Window() : nullptr, nullptr);
    return CheckState(slot);
}

std::string Runner::Destroy(std::size_t slot) {
    Trace("o[" + std::to_string(slot) + "].reset();");
    objects_[slot].reset();
    models_[slot] = ObjectModel{};
    bool anyLive = false;
    for (const auto& m : models_) anyLive = anyLive || m.live;
    if (!anyLive) libraryLoaded_ = false;
    if (Fake().LibraryLoaded() != libraryLoaded_) {
        return Compare("library loaded", Fake().LibraryLoaded(), libraryLoaded_);
    }
    return {};
}

std::string Runner::SetMode(std::size_t slot) {
    ObjectModel& m = models_[slot];
    const auto mode = static_cast<int32_t>(source_.Below(4));
    bool expected = m.status == CdsStatusReady && (mode == 1 || mode == 2);
    if (expected && Fails("device.SetCooperativeLevel")) expected = false;
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->SetApplicationMode(" + std::to_string(mode) +
          "), " + std::to_string(expected) + ");");
    const std::string problem =
        Compare("SetApplicationMode", objects_[slot]->SetApplicationMode(mode), expected);
    if (expected) m.mode = mode;
    return problem.empty() ? CheckState(slot) : problem;
}

std::string Runner::Speakers(std::size_t slot) {
    const bool ready = models_[slot].status == CdsStatusReady;
    const DWORD configuration = Edge({0, 5, 7, 8, 0x104}, 12);
    Fake().speakerConfig = configuration;
    const bool expected = ready && !Fails("device.GetSpeakerConfig");
    const bool nullCount = source_.Percent(20);
    int32_t count = -1;
    Trace("fake().speakerConfig = " + std::to_string(configuration) + ";");
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->GetNumberOfSystemSpeakerConfig(" +
          (nullCount ? "nullptr" : "&count") + "), " + std::to_string(expected) + ");");
    std::string problem = Compare(
        "GetNumberOfSystemSpeakerConfig",
        objects_[slot]->GetNumberOfSystemSpeakerConfig(nullCount ? nullptr : &count), expected);
    if (problem.empty() && !nullCount) {
        problem = Compare("speaker count", count, expected ? SpeakerCount(configuration) : -1);
    }
    return problem;
}

std::string Runner::CreatePrimary(std::size_t slot) {
    ObjectModel& m = models_[slot];
    const int32_t channels = static_cast<int32_t>(Edge({1, 2, 3, 6, 8}, 10));
    const auto bits = static_cast<uint16_t>(source_.Percent(90) ? 16 : Edge({8, 24, 32}, 40));
    const auto validBits = static_cast<uint16_t>(source_.Percent(85) ? bits : Edge({0, 8, 20}, 40));
    const int32_t rate = static_cast<int32_t>(Edge({44100, 48000}, 200000));

    bool expected = m.status == CdsStatusReady && validBits <= bits;
    if (expected) {
        m.primary = false;  // any attempt that gets this far replaces the buffer
        const bool created =
            !Fails("device.CreateSoundBuffer") && !NullOutput("device.CreateSoundBuffer");
        expected = created && !Fails("primary.SetFormat") && !Fails("primary.GetFormat");
        if (expected && source_.Percent(5)) {
            Trace("fake().FailAllocation(0);");
            Fake().FailAllocation(0);
            ++totals_.faults;
            expected = false;
        } else if (expected) {
            expected = !Fails("primary.GetFormat", 1);
            // The two GetFormat scripts queue up: size first, record second.
        }
        if (expected && source_.Percent(5)) {
            Trace("fake().reportedSize = 15;");
            Fake().reportedSize = 15;
            ++totals_.faults;
            expected = false;
        }
    }
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->CreatePrimaryBuffer(" +
          std::to_string(channels) + ", " + std::to_string(bits) + ", " +
          std::to_string(validBits) + ", " + std::to_string(rate) + ", 0), " +
          std::to_string(expected) + ");");
    const fake::ObjectRecord* const before = Fake().Object("primary");
    std::string problem =
        Compare("CreatePrimaryBuffer",
                objects_[slot]->CreatePrimaryBuffer(channels, bits, validBits, rate, 0), expected);
    if (problem.empty() && !expected) problem = ReleasedAfterFailure("primary", before);
    if (expected) m.primary = true;
    return problem.empty() ? CheckState(slot) : problem;
}

std::string Runner::CreateStreaming(std::size_t slot) {
    ObjectModel& m = models_[slot];
    const uint32_t blockBytes = Edge({0, 1, 4, 200, 4096}, 1000);
    uint32_t bufferBytes = blockBytes * (1 + source_.Below(6));
    if (source_.Percent(25)) bufferBytes = Edge({3, 4, 900, 0x0FFFFFFF, 0x10000000}, 5000);
    const bool blockEvent = source_.Percent(80);
    const bool stopEvent = source_.Percent(80);
    const auto validBits = static_cast<uint16_t>(source_.Percent(90) ? 16 : 24);

    const bool refused = m.status != CdsStatusReady || !m.primary || m.streaming ||
                         bufferBytes < 4 || bufferBytes > 0x0FFFFFFF || bufferBytes < blockBytes ||
                         blockBytes == 0 || bufferBytes % blockBytes != 0 || validBits > 16;
    bool expected = !refused;
    const bool notified = blockEvent && stopEvent;
    if (expected) {
        // Tables past a few megabytes count as out of memory, as on a small
        // machine; the model knows the sizes the library asks for.
        Fake().LimitAllocations(std::size_t{8} << 20);
        const uint64_t blocks = bufferBytes / blockBytes;
        const bool tablesFit = blocks * sizeof(CdsBlock) <= (std::size_t{8} << 20) &&
                               (blocks + 1) * sizeof(DSBPOSITIONNOTIFY) <= (std::size_t{8} << 20);
        expected = !Fails("device.CreateSoundBuffer") && !NullOutput("device.CreateSoundBuffer");
        if (expected && notified) {
            expected =
                !Fails("streaming.QueryInterface") && !NullOutput("streaming.QueryInterface");
        }
        if (expected && source_.Percent(5)) {
            const int index = notified && source_.Percent(50) ? 1 : 0;
            Trace("fake().FailAllocation(" + std::to_string(index) + ");");
            Fake().FailAllocation(index);
            ++totals_.faults;
            expected = false;
        }
        expected = expected && tablesFit;
        if (expected && notified) expected = !Fails("notify.SetNotificationPositions");
    }
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->CreateStreamingBuffer(" +
          std::to_string(bufferBytes) + ", " + std::to_string(blockBytes) + ", " +
          (blockEvent ? "TestEvent(7)" : "nullptr") + ", " +
          (stopEvent ? "TestEvent(8)" : "nullptr") + ", 2, 16, " + std::to_string(validBits) +
          ", 48000, 0), " + std::to_string(expected) + ");");
    const fake::ObjectRecord* const streaming = Fake().Object("streaming");
    const fake::ObjectRecord* const notify = Fake().Object("notify");
    std::string problem = Compare("CreateStreamingBuffer",
                                  objects_[slot]->CreateStreamingBuffer(
                                      bufferBytes, blockBytes, blockEvent ? Event(7) : nullptr,
                                      stopEvent ? Event(8) : nullptr, 2, 16, validBits, 48000, 0),
                                  expected);
    if (problem.empty() && !expected) problem = ReleasedAfterFailure("notify", notify);
    if (problem.empty() && !expected) problem = ReleasedAfterFailure("streaming", streaming);
    Fake().LimitAllocations(~std::size_t{0});
    if (!refused) {
        m.streaming = expected;
        m.blockBytes = expected ? blockBytes : 0;
        m.blockCount = expected ? bufferBytes / blockBytes : 0;
        m.locked.assign(m.blockCount, false);
    }
    return problem.empty() ? CheckState(slot) : problem;
}

std::string Runner::Lock(std::size_t slot) {
    ObjectModel& m = models_[slot];
    const uint32_t block = Edge({0, 1, m.blockCount, m.blockCount + 1}, m.blockCount + 2);
    const bool nullData = source_.Percent(5);
    const bool nullBytes = source_.Percent(5);
    const bool streamingReady = m.status == CdsStatusReady && m.primary && m.streaming;
    const bool refused = !streamingReady || nullData || nullBytes || block > m.blockCount ||
                         block == 0 || m.locked[block - 1];
    const bool expected = !refused && !Fails("streaming.Lock", 2);

    void* data = &m;
    uint32_t bytes = 77;
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->LockStreamingBuffer(" +
          std::to_string(block) + ", " + (nullData ? "nullptr" : "&data") + ", " +
          (nullBytes ? "nullptr" : "&bytes") + "), " + std::to_string(expected) + ");");
    std::string problem =
        Compare("LockStreamingBuffer",
                objects_[slot]->LockStreamingBuffer(block, nullData ? nullptr : &data,
                                                    nullBytes ? nullptr : &bytes),
                expected);
    if (problem.empty() && !nullData && !nullBytes) {
        // Refusals write nothing; a double failure writes null and 0.
        const uint32_t wantBytes = refused ? 77 : expected ? m.blockBytes : 0;
        problem = Compare("locked bytes", bytes, wantBytes);
        if (problem.empty() && !expected && data != (refused ? static_cast<void*>(&m) : nullptr)) {
            problem = "LockStreamingBuffer wrote its data pointer on a refusal";
        }
    }
    if (expected) m.locked[block - 1] = true;
    return problem.empty() ? CheckState(slot) : problem;
}

std::string Runner::Unlock(std::size_t slot) {
    ObjectModel& m = models_[slot];
    const uint32_t block = Edge({0, 1, m.blockCount + 1}, m.blockCount + 2);
    const bool streamingReady = m.status == CdsStatusReady && m.primary && m.streaming;
    bool expected = streamingReady && block <= m.blockCount && block != 0 && m.locked[block - 1];
    if (expected && Fails("streaming.Unlock")) expected = false;
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->UnlockStreamingBuffer(" +
          std::to_string(block) + "), " + std::to_string(expected) + ");");
    const std::string problem =
        Compare("UnlockStreamingBuffer", objects_[slot]->UnlockStreamingBuffer(block), expected);
    if (expected) m.locked[block - 1] = false;
    return problem.empty() ? CheckState(slot) : problem;
}

std::string Runner::Play(std::size_t slot) {
    const ObjectModel& m = models_[slot];
    const bool ready = m.status == CdsStatusReady && m.primary && m.streaming;
    const bool expected = ready && !Fails("streaming.Play", 2);
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->PlayStreamingBuffer(), " +
          std::to_string(expected) + ");");
    return Compare("PlayStreamingBuffer", objects_[slot]->PlayStreamingBuffer(), expected);
}

std::string Runner::SingleCall(std::size_t slot) {
    const ObjectModel& m = models_[slot];
    const bool ready = m.status == CdsStatusReady && m.primary && m.streaming;
    CdsObject& o = *objects_[slot];
    const std::string name = "o[" + std::to_string(slot) + "]->";
    switch (source_.Below(4)) {
        case 0: {
            const bool expected = ready && !Fails("streaming.Stop");
            Trace("EXPECT_EQ(" + name + "StopStreamingBuffer(), " + std::to_string(expected) +
                  ");");
            return Compare("StopStreamingBuffer", o.StopStreamingBuffer(), expected);
        }
        case 1: {
            const bool expected = ready && !Fails("streaming.Restore");
            Trace("EXPECT_EQ(" + name + "RestoreStreamingBuffer(), " + std::to_string(expected) +
                  ");");
            return Compare("RestoreStreamingBuffer", o.RestoreStreamingBuffer(), expected);
        }
        case 2: {
            const bool expected = ready && !Fails("streaming.SetCurrentPosition");
            Trace("EXPECT_EQ(" + name + "ResetStreamingBuffer(), " + std::to_string(expected) +
                  ");");
            return Compare("ResetStreamingBuffer", o.ResetStreamingBuffer(), expected);
        }
        default: {
            const uint32_t block = Edge({0, 1, m.blockCount, m.blockCount + 1}, m.blockCount + 2);
            const bool expected = ready && block <= m.blockCount && block != 0 &&
                                  !Fails("streaming.SetCurrentPosition");
            Trace("EXPECT_EQ(" + name + "SetStreamingBufferPosition(" + std::to_string(block) +
                  "), " + std::to_string(expected) + ");");
            return Compare("SetStreamingBufferPosition", o.SetStreamingBufferPosition(block),
                           expected);
        }
    }
}

std::string Runner::Positions(std::size_t slot) {
    const ObjectModel& m = models_[slot];
    const bool ready = m.status == CdsStatusReady && m.primary && m.streaming;
    const bool nullPlay = source_.Percent(30);
    const bool nullWrite = source_.Percent(30);
    Fake().playCursor = source_.Below(1000);
    Fake().writeCursor = source_.Below(1000);
    const bool expected = ready && !Fails("streaming.GetCurrentPosition");
    uint32_t play = 5;
    uint32_t write = 6;
    Trace("EXPECT_EQ(o[" + std::to_string(slot) + "]->GetStreamingBufferPositions(" +
          (nullPlay ? "nullptr" : "&play") + ", " + (nullWrite ? "nullptr" : "&write") + "), " +
          std::to_string(expected) + ");");
    std::string problem = Compare("GetStreamingBufferPositions",
                                  objects_[slot]->GetStreamingBufferPositions(
                                      nullPlay ? nullptr : &play, nullWrite ? nullptr : &write),
                                  expected);
    if (problem.empty()) {
        problem = Compare("play cursor", play, expected && !nullPlay ? Fake().playCursor : 5);
    }
    if (problem.empty()) {
        problem = Compare("write cursor", write, expected && !nullWrite ? Fake().writeCursor : 6);
    }
    return problem;
}

std::string Runner::Volume(std::size_t slot) {
    const ObjectModel& m = models_[slot];
    const bool ready = m.status == CdsStatusReady && m.primary && m.streaming;
    const std::string name = "o[" + std::to_string(slot) + "]->";
    if (source_.Percent(50)) {
        const auto volume =
            static_cast<int32_t>(Edge({0, 1, static_cast<uint32_t>(-10000),
                                       static_cast<uint32_t>(-10001), static_cast<uint32_t>(-600)},
                                      100) -
                                 (source_.Percent(50) ? 0 : 5000));
        const bool expected =
            ready && volume <= 0 && volume >= -10000 && !Fails("streaming.SetVolume");
        Trace("EXPECT_EQ(" + name + "SetStreamingBufferVolume(" + std::to_string(volume) + "), " +
              std::to_string(expected) + ");");
        return Compare("SetStreamingBufferVolume", objects_[slot]->SetStreamingBufferVolume(volume),
                       expected);
    }
    const bool nullVolume = source_.Percent(30);
    const bool expected = ready && !Fails("streaming.GetVolume");
    int32_t volume = 1;
    int32_t maximum = 1;
    int32_t minimum = 1;
    Trace("EXPECT_EQ(" + name + "GetStreamingBufferVolume(" + (nullVolume ? "nullptr" : "&volume") +
          ", &maximum, &minimum), " + std::to_string(expected) + ");");
    std::string problem = Compare("GetStreamingBufferVolume",
                                  objects_[slot]->GetStreamingBufferVolume(
                                      nullVolume ? nullptr : &volume, &maximum, &minimum),
                                  expected);
    if (problem.empty()) problem = Compare("maximum", maximum, expected ? 0 : 1);
    if (problem.empty()) problem = Compare("minimum", minimum, expected ? -10000 : 1);
    if (problem.empty() && (!expected || nullVolume)) problem = Compare("volume", volume, 1);
    return problem;
}

}  // namespace model

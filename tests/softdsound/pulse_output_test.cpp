// The backend each setting gives, and what the libpulse output asks of its
// server: these run on a private PulseAudio server where there is one
// (PULSE_SERVER set), and without one otherwise, where only the cases with
// no server or a server that never answers run.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "disk_output.h"
#include "mivo_dsound_hooks.h"
#include "platform/platform.h"

extern "C" HRESULT DirectSoundCreate(const GUID* device, IDirectSound** out, IUnknown* outer);
extern "C" HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context);
extern "C" HRESULT DirectSoundEnumerateW(LPDSENUMCALLBACKW callback, LPVOID context);

namespace device_test {
namespace {

// Sets a variable (null: unsets it) and puts back what was there.
class Setting {
public:
    Setting(const char* name, const char* value) : name_(name) {
        const char* was = std::getenv(name);
        had_ = was != nullptr;
        if (had_) was_ = was;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~Setting() {
        if (had_) {
            setenv(name_, was_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    Setting(const Setting&) = delete;
    Setting& operator=(const Setting&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string was_;
};

// A socket that takes connections and never answers, as a server that
// hangs does; counts the connections made to it.
class SilentServer {
public:
    SilentServer() {
        const char* tmp = std::getenv("TMPDIR");
        path_ =
            std::string(tmp != nullptr ? tmp : "/tmp") + "/mivo-silent-" + std::to_string(getpid());
        unlink(path_.c_str());
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd_, 16), 0);
    }
    ~SilentServer() {
        close(fd_);
        unlink(path_.c_str());
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::string Address() const { return "unix:" + path_; }
    // Connections made since the last call (each was given up by now).
    int Connections() const {
        int count = 0;
        for (int taken; (taken = accept(fd_, nullptr, nullptr)) >= 0; ++count) close(taken);
        return count;
    }

private:
    std::string path_;
    int fd_ = -1;
};

// The descriptions DirectSoundEnumerateA and W list, the W ones narrowed
// back (they are ASCII here), each with whether it came with a GUID.
BOOL AddListed(const GUID* guid, const std::string& description, void* to) {
    static_cast<std::vector<std::string>*>(to)->push_back((guid != nullptr ? "+" : "-") +
                                                          description);
    return TRUE;
}

std::vector<std::string> Listed(bool wide) {
    std::vector<std::string> listed;
    if (wide) {
        EXPECT_EQ(DirectSoundEnumerateW(nullptr, nullptr), DSERR_INVALIDPARAM);
        EXPECT_EQ(DirectSoundEnumerateW(
                      [](GUID* guid, LPCWSTR description, LPCWSTR, LPVOID to) -> BOOL {
                          std::string narrow;
                          for (; *description != 0; ++description) {
                              narrow.push_back(static_cast<char>(*description));
                          }
                          return AddListed(guid, narrow, to);
                      },
                      &listed),
                  DS_OK);
    } else {
        EXPECT_EQ(DirectSoundEnumerateA(nullptr, nullptr), DSERR_INVALIDPARAM);
        EXPECT_EQ(DirectSoundEnumerateA([](GUID* guid, LPCSTR description, LPCSTR, LPVOID to)
                                            -> BOOL { return AddListed(guid, description, to); },
                                        &listed),
                  DS_OK);
    }
    return listed;
}

enum class Server { kRunning, kNone, kSilent };
enum class Plays { kPulse, kSdl, kNothing, kNotPulse };

struct ChoiceCase {
    const char* name;
    const char* backend;    // MIVO_DSOUND_BACKEND
    const char* sdlDriver;  // SDL_AUDIODRIVER
    Server server;
    Plays plays;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.name; }

class BackendChoice : public ::testing::TestWithParam<ChoiceCase> {};

// Only the libpulse output reports a server latency.
TEST_P(BackendChoice, FollowsTheSettings) {
    const ChoiceCase& c = GetParam();
    const bool serverHere = std::getenv("PULSE_SERVER") != nullptr;
    if (c.server == Server::kRunning && !serverHere) GTEST_SKIP() << "no sound server here";
    DiskFile file(1);
    SilentServer silent;
    const std::string address =
        c.server == Server::kSilent ? silent.Address() : "unix:/nonexistent/mivo/native";
    const Setting server("PULSE_SERVER", c.server == Server::kRunning ? std::getenv("PULSE_SERVER")
                                                                      : address.c_str());
    const Setting backend("MIVO_DSOUND_BACKEND", c.backend);
    const Setting driver("SDL_AUDIODRIVER", c.sdlDriver);

    IDirectSound* ds = nullptr;
    const HRESULT created = DirectSoundCreate(nullptr, &ds, nullptr);
    Plays plays = Plays::kNothing;
    if (created == DS_OK) {
        IMivoDeviceHooks* hooks = nullptr;
        ASSERT_EQ(ds->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)), DS_OK);
        DWORD target = 0;
        DWORD reported = 0;
        plays = hooks->GetOutputLatency(&target, &reported) == DS_OK ? Plays::kPulse : Plays::kSdl;
        hooks->Release();
        EXPECT_EQ(ds->Release(), 0u);
    } else {
        EXPECT_EQ(created, DSERR_NODRIVER);
    }
    if (c.plays == Plays::kNotPulse) {
        EXPECT_NE(plays, Plays::kPulse);
    } else {
        EXPECT_EQ(plays, c.plays);
    }
    // The default output first; a server's sinks after it, the same to
    // narrow and wide clients.
    if (c.server != Server::kSilent) {
        const std::vector<std::string> listed = Listed(false);
        EXPECT_EQ(Listed(true), listed);
        ASSERT_FALSE(listed.empty());
        EXPECT_EQ(listed[0], "-Primary Sound Driver");
        if (c.plays == Plays::kPulse || c.plays == Plays::kNothing) {
            EXPECT_EQ(listed.size(), c.plays == Plays::kPulse ? 2u : 1u) << "one null sink";
        }
    }
    // A server that never answers is asked once, and given up on after
    // the answer's time limit: not asked again for the stream.
    if (c.server == Server::kSilent) {
        EXPECT_EQ(silent.Connections(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, BackendChoice,
    ::testing::Values(
        ChoiceCase{"NothingSet", nullptr, nullptr, Server::kRunning, Plays::kPulse},
        ChoiceCase{"Pulse", "pulse", nullptr, Server::kRunning, Plays::kPulse},
        ChoiceCase{"PulseOverAnSdlDriver", "pulse", "disk", Server::kRunning, Plays::kPulse},
        ChoiceCase{"Sdl", "sdl", nullptr, Server::kRunning, Plays::kSdl},
        ChoiceCase{"SdlDriverNamed", nullptr, "disk", Server::kRunning, Plays::kSdl},
        ChoiceCase{"UnknownBackendIgnored", "jack", nullptr, Server::kRunning, Plays::kPulse},
        ChoiceCase{"EmptySdlDriverIgnored", nullptr, "", Server::kRunning, Plays::kPulse},
        ChoiceCase{"PulseWithNoServer", "pulse", nullptr, Server::kNone, Plays::kNothing},
        ChoiceCase{"SdlDriverWithNoServer", nullptr, "disk", Server::kNone, Plays::kSdl},
        ChoiceCase{"PulseWithASilentServer", "pulse", nullptr, Server::kSilent, Plays::kNothing},
        ChoiceCase{"NothingSetWithASilentServer", nullptr, nullptr, Server::kSilent,
                   Plays::kNotPulse}),
    [](const auto& test) { return std::string(test.param.name); });

// What the device's latency hook reads back.
struct Held {
    DWORD targetFrames = 0;
    DWORD reportedFrames = 0;
};

// The output's latency, polled until `done` or `seconds`.
template <typename Done>
Held LatencyOnceDone(IMivoDeviceHooks& hooks, int seconds, const Done& done) {
    Held latency;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (hooks.GetOutputLatency(&latency.targetFrames, &latency.reportedFrames) == DS_OK &&
            done(latency)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return latency;
}

// An underflow makes the server hold more; a quiet spell, less again.
TEST(PulseLatency, TheServerHoldsEachNewTarget) {
    if (std::getenv("PULSE_SERVER") == nullptr) GTEST_SKIP() << "no sound server here";
    const Setting backend("MIVO_DSOUND_BACKEND", "pulse");
    const Setting pinned("MIVO_DSOUND_LATENCY_MS", nullptr);
    IDirectSound* ds = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DS_OK);
    IMivoDeviceHooks* hooks = nullptr;
    ASSERT_EQ(ds->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)), DS_OK);
    // The server says how much it holds, the sink's part included, once
    // the first fill reached it: a stream never filled cannot run dry.
    const Held playing =
        LatencyOnceDone(*hooks, 5, [](const Held& l) { return l.reportedFrames > 0; });
    ASSERT_GT(playing.reportedFrames, 0u) << "the stream never started";
    const DWORD start = playing.targetFrames;
    ASSERT_GT(start, 0u);
    // 20 ms held by the server at first: a 300 ms hold runs it dry.
    ASSERT_EQ(hooks->StarveOutput(300, 60000), DS_OK);
    const DWORD grown = LatencyOnceDone(*hooks, 5, [&](const Held& l) {
                            return l.targetFrames > start;
                        }).targetFrames;
    EXPECT_GT(grown, start) << "no larger buffer after an underflow";
    ASSERT_EQ(hooks->StarveOutput(0, 300), DS_OK);
    const DWORD back = LatencyOnceDone(*hooks, 10, [&](const Held& l) {
                           return l.targetFrames < grown;
                       }).targetFrames;
    EXPECT_LT(back, grown) << "no smaller buffer after a quiet spell";
    EXPECT_GE(back, start);
    hooks->Release();
    EXPECT_EQ(ds->Release(), 0u);
}

}  // namespace
}  // namespace device_test

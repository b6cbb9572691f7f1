// The outputs a client enumerates and opens by GUID, over the test
// backend's list of outputs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "objects/output_directory.h"
#include "objects/output_guid.h"
#include "objects/sound_device.h"
#include "output/pulse_format.h"
#include "output/test_output.h"

namespace mivo_dsound {
namespace {

std::string Text(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::unique_ptr<TestBackend> TwoOutputs() {
    auto backend = std::make_unique<TestBackend>();
    backend->SetOutputs({{"citest", "Null Output", 2}, {"rear", "Rear speakers", 6}});
    return backend;
}

TEST(OutputDirectory, GuidsAreNameBasedUuidsOfTheOutputsNames) {
    // Known answers from an independent version 5 UUID implementation, in
    // the namespace 6d69766f-6f75-5470-8075-742d6e616d65.
    EXPECT_EQ(Text(OutputGuid("citest")), "717b57bf-b9f9-5919-ad16-91ce799dbb3e");
    EXPECT_EQ(Text(OutputGuid("alsa_output.pci-0000_00_1f.3.analog-stereo")),
              "1f4ddf26-f379-55b2-b3cb-cda4ae06fab7");
    EXPECT_EQ(Text(OutputGuid("")), "3c8f861f-2f55-53f2-9a42-e1f88f87baf6");
}

TEST(OutputDirectory, TheDefaultComesFirstThenEachOutputUntilTheVisitStops) {
    auto backend = TwoOutputs();
    std::vector<std::string> seen;
    WalkOutputs(*backend, [&](const GUID* guid, const std::string& description,
                              const std::string& module) {
        seen.push_back((guid != nullptr ? Text(*guid) : "null") + " " + description + " " + module);
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"null Primary Sound Driver ",
                                              Text(OutputGuid("citest")) + " Null Output citest",
                                              Text(OutputGuid("rear")) + " Rear speakers rear"}));
    int visits = 0;
    WalkOutputs(*backend,
                [&](const GUID*, const std::string&, const std::string&) { return ++visits < 2; });
    EXPECT_EQ(visits, 2);
}

TEST(OutputDirectory, AGuidOpensItsOutputAndTheDeviceAnswersForItsSpeakers) {
    struct Case {
        const char* name;
        bool useGuid;
        GUID guid;
        HRESULT result;
        const char* opened;
        DWORD speakers;
    };
    const GUID unknown = OutputGuid("gone");
    const Case cases[] = {
        {"Null", false, {}, DS_OK, "", DSSPEAKER_STEREO},
        {"DefaultPlayback", true, kDefaultPlaybackDevice, DS_OK, "", DSSPEAKER_STEREO},
        {"Second", true, OutputGuid("rear"), DS_OK, "rear", DSSPEAKER_5POINT1},
        {"Unknown", true, unknown, DSERR_NODRIVER, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto backend = TwoOutputs();
        TestBackend* test = backend.get();
        OutputInfo output;
        const bool found = FindOutput(*backend, c.useGuid ? &c.guid : nullptr, output);
        EXPECT_EQ(found, c.result == DS_OK);
        if (!found) continue;
        SoundDevice* device = nullptr;
        ASSERT_EQ(SoundDevice::Create(std::move(backend), output, &device), DS_OK);
        EXPECT_EQ(test->OpenedName(), c.opened);
        DWORD speakers = 0;
        EXPECT_EQ(device->GetSpeakerConfig(&speakers), DS_OK);
        EXPECT_EQ(speakers, c.speakers);
        EXPECT_EQ(device->Release(), 0u);
    }
}

TEST(OutputDirectory, NamesReachWideClientsInUtf16) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"", u""},
        {"Null Output", u"Null Output"},
        {"Caf\xC3\xA9", u"Caf\u00E9"},                                             // two bytes
        {"\xE2\x82\xAC 5", u"\u20AC 5"},                                           // three
        {"\xF0\x9D\x84\x9E", std::u16string{char16_t{0xD834}, char16_t{0xDD1E}}},  // four
        {"\xF4\x8F\xBF\xBF", std::u16string{char16_t{0xDBFF}, char16_t{0xDFFF}}},  // the last
        {"\xEF\xBF\xBF\x7F", u"\uFFFF\u007F"},
    };
    for (const auto& [utf8, utf16] : cases) {
        EXPECT_EQ(Utf16(utf8), utf16) << utf8;
    }
}

// Channel maps of libpulse from Windows' speaker masks, and masks from a
// server's maps.
TEST(OutputDirectory, SpeakersOfAnOutputInLibpulseTermsAndBack) {
    struct Case {
        int channels;
        DWORD mask;
        std::vector<pa_channel_position_t> map;
        DWORD back;  // the mask of that map again
    };
    constexpr auto kFL = PA_CHANNEL_POSITION_FRONT_LEFT;
    constexpr auto kFR = PA_CHANNEL_POSITION_FRONT_RIGHT;
    constexpr auto kFC = PA_CHANNEL_POSITION_FRONT_CENTER;
    constexpr auto kLFE = PA_CHANNEL_POSITION_LFE;
    constexpr auto kRL = PA_CHANNEL_POSITION_REAR_LEFT;
    constexpr auto kRR = PA_CHANNEL_POSITION_REAR_RIGHT;
    constexpr auto kSL = PA_CHANNEL_POSITION_SIDE_LEFT;
    constexpr auto kSR = PA_CHANNEL_POSITION_SIDE_RIGHT;
    const Case cases[] = {
        {1, 0x4, {kFC}, 0x4},
        {2, 0x3, {kFL, kFR}, 0x3},
        {6, 0x3F, {kFL, kFR, kFC, kLFE, kRL, kRR}, 0x3F},
        {8, 0x63F, {kFL, kFR, kFC, kLFE, kRL, kRR, kSL, kSR}, 0x63F},
        {3, 0x20003, {kFL, kFR, PA_CHANNEL_POSITION_TOP_REAR_RIGHT}, 0x20003},  // the last known
        {3, 0x40003, {kFL, kFR, kFC}, 0x7},  // a speaker past the known ones
        {2, 0x7, {kFL, kFR}, 0x3},           // more speakers than channels
        {4, 0, {kFL, kFR, kFC, kLFE}, 0xF},  // none named
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        OutputFormat format;
        format.channels = c.channels;
        format.channelMask = c.mask;
        const pa_channel_map map = PulseChannelMap(format);
        ASSERT_EQ(map.channels, c.map.size());
        EXPECT_EQ(std::vector<pa_channel_position_t>(map.map, map.map + map.channels), c.map);
        EXPECT_EQ(SpeakerMaskOf(map), c.back);
    }
    pa_channel_map twice{};
    twice.channels = 2;
    twice.map[0] = twice.map[1] = kFL;
    EXPECT_EQ(SpeakerMaskOf(twice), 0u);
    pa_channel_map auxiliary{};
    auxiliary.channels = 2;
    auxiliary.map[0] = kFL;
    auxiliary.map[1] = PA_CHANNEL_POSITION_AUX0;
    EXPECT_EQ(SpeakerMaskOf(auxiliary), 0u);
}

}  // namespace
}  // namespace mivo_dsound

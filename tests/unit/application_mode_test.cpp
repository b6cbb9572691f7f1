#include "fake_platform_test.h"

namespace {

using ApplicationModeTest = FakePlatformTest;

TEST_F(ApplicationModeTest, RequestsTheLevelOfEachModeAndRefusesOthersWithoutACall) {
    struct Row {
        int32_t mode;
        int32_t result;
        Calls calls;
    };
    const Row rows[] = {
        {1, 1, {"device.SetCooperativeLevel(ptr,2)", "device.Compact()"}},
        {2, 1, {"device.SetCooperativeLevel(ptr,3)", "device.Compact()"}},
        {0, 0, {}},
        {3, 0, {}},
        {-1, 0, {}},
    };
    CdsObject& object = Open();
    for (const Row& row : rows) {
        fake().ClearCalls();
        const int32_t before = object.ApplicationMode;
        EXPECT_EQ(object.SetApplicationMode(row.mode), row.result) << row.mode;
        EXPECT_EQ(fake().Calls(), row.calls) << row.mode;
        EXPECT_EQ(object.ApplicationMode, row.result == 1 ? row.mode : before) << row.mode;
    }
    EXPECT_EQ(object.ApplicationMode, 2);
}

TEST_F(ApplicationModeTest, FailedRequestKeepsTheModeAndSkipsCompact) {
    CdsObject& object = Open();
    for (const HRESULT failure : {E_FAIL, DSERR_ALLOCATED, HRESULT{1}}) {
        fake().ClearCalls();
        fake().Script("device.SetCooperativeLevel", {failure});
        EXPECT_EQ(object.SetApplicationMode(CdsModeExclusive), 0);
        EXPECT_EQ(object.ApplicationMode, -1);
        EXPECT_EQ(fake().Calls(), Calls{"device.SetCooperativeLevel(ptr,3)"});
    }
    // Compact's answer does not matter.
    fake().Script("device.Compact", {E_FAIL});
    EXPECT_EQ(object.SetApplicationMode(CdsModePriority), 1);
    EXPECT_EQ(object.ApplicationMode, 1);
}

TEST_F(ApplicationModeTest, SpeakerCountFollowsTheWholeConfigurationValue) {
    const std::pair<DWORD, int32_t> rows[] = {
        {0, 0}, {1, 2}, {2, 1}, {3, 4},     {4, 2},      {5, 5},
        {6, 6}, {7, 8}, {8, 2}, {0x104, 2}, {0x0607, 2}, {0xFFFFFFFFu, 2},
    };
    CdsObject& object = Open();
    for (const auto& [configuration, speakers] : rows) {
        fake().speakerConfig = configuration;
        int32_t count = -7;
        EXPECT_EQ(object.GetNumberOfSystemSpeakerConfig(&count), 1);
        EXPECT_EQ(count, speakers) << fake::Hex(configuration);
    }
    EXPECT_EQ(object.GetNumberOfSystemSpeakerConfig(nullptr), 1);
}

TEST_F(ApplicationModeTest, FailedSpeakerQueryWritesNothing) {
    CdsObject& object = Open();
    fake().Script("device.GetSpeakerConfig", {DSERR_UNSUPPORTED, HRESULT{1}});
    int32_t count = -7;
    EXPECT_EQ(object.GetNumberOfSystemSpeakerConfig(&count), 0);
    EXPECT_EQ(object.GetNumberOfSystemSpeakerConfig(&count), 0);
    EXPECT_EQ(count, -7);
}

}  // namespace

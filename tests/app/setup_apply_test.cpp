// The steps of a confirmed local setup, in the order the main window runs them.
#include "app/setup_apply.h"

#include <gtest/gtest.h>

#include <vector>

namespace taviro::app {
namespace {

using Steps = std::vector<SetupAction>;

LocalSetup Current() {
    LocalSetup setup;
    setup.location = "/home/operator/TAVIRO";
    return setup;
}

const SetupAction kTakeOver{SetupStep::kTakeOver, 0, 0};
const SetupAction kSave{SetupStep::kSave, 0, 0};
const SetupAction kUpgrade{SetupStep::kEnsureUpgradeFolder, 0, 0};
const SetupAction kLog{SetupStep::kWriteLocalLog, 8, 1};

TEST(SetupApplyTest, UnchangedSetupIsStillSavedAndLogged) {
    const SetupApplyPlan plan = PlanSetupApply(Current(), Current(), false);
    EXPECT_EQ(plan.actions, (Steps{kTakeOver, kSave, kUpgrade, kLog}));
    EXPECT_EQ(plan.result, Current());
}

TEST(SetupApplyTest, DrawModeChangeRecreatesTheGridBeforeAnythingElse) {
    LocalSetup edited = Current();
    edited.drawMode = 1;
    edited.dateFormat = 2;
    edited.opacity[0] = 128;
    edited.opacity[8] = 200;
    edited.deinterlace[3] = 5;
    edited.audioBuffer[2] = 4;
    edited.hourSystem = 0;
    edited.watermark = 1;
    edited.saveFormat = 1;
    edited.location = "/srv/video";
    const SetupApplyPlan plan = PlanSetupApply(Current(), edited, false);
    const Steps expected = {
        {SetupStep::kRecreateGrid, 0, 1},
        kTakeOver,
        {SetupStep::kDateFormatChanged, 0, 2},
        {SetupStep::kSaveFormatChanged, 0, 1},
        {SetupStep::kLocationChanged, 0, 0},
        {SetupStep::kOpacityChanged, 0, 128},
        {SetupStep::kOpacityChanged, 8, 200},
        {SetupStep::kAudioBufferChanged, 2, 4},
        {SetupStep::kDeinterlaceChanged, 3, 1},
        {SetupStep::kHourSystemChanged, 0, 0},
        {SetupStep::kWatermarkChanged, 0, 1},
        kSave,
        kUpgrade,
        kLog,
    };
    EXPECT_EQ(plan.actions, expected);
    EXPECT_EQ(plan.result.location, "/srv/video");
    EXPECT_EQ(plan.result.deinterlace[3], 1);
    EXPECT_EQ(plan.result.opacity[8], 200);  // the popup's holds for this run
    // A renderer picked by the operator is kept from now on; an unchanged one stays open.
    EXPECT_EQ(plan.result.drawModeChosen, 1);
    EXPECT_EQ(PlanSetupApply(Current(), Current(), false).result.drawModeChosen, 0);
}

TEST(SetupApplyTest, PlayerModeKeepsTheLocationAndWritesNothing) {
    LocalSetup edited = Current();
    edited.drawMode = 1;
    edited.location = "/media/stick";
    edited.opacity[5] = 10;
    const SetupApplyPlan plan = PlanSetupApply(Current(), edited, true);
    EXPECT_EQ(
        plan.actions,
        (Steps{{SetupStep::kRecreateGrid, 0, 1}, kTakeOver, {SetupStep::kOpacityChanged, 5, 10}}));
    EXPECT_EQ(plan.result.location, "/home/operator/TAVIRO");
    EXPECT_EQ(plan.result.drawMode, 1);
}

TEST(SetupApplyTest, ValuesTheClientCannotUseKeepTheCurrentOnes) {
    LocalSetup current = Current();
    current.drawMode = 1;
    current.dateFormat = 1;
    LocalSetup edited = current;
    edited.drawMode = 9;
    edited.dateFormat = 3;
    edited.saveFormat = 3;
    edited.hourSystem = 2;
    edited.watermark = 2;
    edited.audioBuffer[0] = kAudioBufferMax + 1;
    edited.location = "not/absolute";
    const SetupApplyPlan plan = PlanSetupApply(current, edited, false);
    EXPECT_EQ(plan.result, current);
    EXPECT_EQ(plan.actions, (Steps{kTakeOver, kSave, kUpgrade, kLog}));
}

}  // namespace
}  // namespace taviro::app

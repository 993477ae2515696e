#include "app/setup_apply.h"

namespace taviro::app {

namespace {

std::uint8_t InRangeOr(std::uint8_t value, std::uint8_t max, std::uint8_t fallback) {
    return value <= max ? value : fallback;
}

void AddIfChanged(std::vector<SetupAction>& actions, SetupStep step, std::size_t index,
                  std::uint8_t before, std::uint8_t after) {
    if (before != after)
        actions.push_back({step, index, after});
}

}  // namespace

LocalSetup SanitisedEdit(const LocalSetup& current, const LocalSetup& edited) {
    LocalSetup s = edited;
    s.drawMode = InRangeOr(edited.drawMode, kDrawModeRgb, current.drawMode);
    s.dateFormat = InRangeOr(edited.dateFormat, kDateDayMonthYear, current.dateFormat);
    s.saveFormat = InRangeOr(edited.saveFormat, kSaveFormatMax, current.saveFormat);
    s.hourSystem = InRangeOr(edited.hourSystem, kHourSystemMax, current.hourSystem);
    s.watermark = InRangeOr(edited.watermark, kWatermarkMax, current.watermark);
    if (!IsUsableLocation(edited.location))
        s.location = current.location;
    for (std::size_t i = 0; i < kAudioBufferCount; ++i)
        s.audioBuffer[i] =
            InRangeOr(edited.audioBuffer[i], kAudioBufferMax, current.audioBuffer[i]);
    for (std::uint8_t& flag : s.deinterlace)
        flag = flag != 0 ? 1 : 0;
    return s;
}

SetupApplyPlan PlanSetupApply(const LocalSetup& current, const LocalSetup& edited,
                              bool playerMode) {
    SetupApplyPlan plan;
    plan.result = SanitisedEdit(current, edited);
    if (playerMode)
        plan.result.location = current.location;  // a player run never moves the storage
    const LocalSetup& next = plan.result;
    std::vector<SetupAction>& actions = plan.actions;

    if (next.drawMode != current.drawMode) {
        plan.result.drawModeChosen = 1;  // from now on the renderer is the operator's choice
        actions.push_back({SetupStep::kRecreateGrid, 0, next.drawMode});
    }

    actions.push_back({SetupStep::kTakeOver, 0, 0});
    AddIfChanged(actions, SetupStep::kDateFormatChanged, 0, current.dateFormat, next.dateFormat);
    AddIfChanged(actions, SetupStep::kSaveFormatChanged, 0, current.saveFormat, next.saveFormat);
    if (next.location != current.location)
        actions.push_back({SetupStep::kLocationChanged, 0, 0});
    for (std::size_t i = 0; i < kOpacityCount; ++i)
        AddIfChanged(actions, SetupStep::kOpacityChanged, i, current.opacity[i], next.opacity[i]);
    for (std::size_t i = 0; i < kAudioBufferCount; ++i)
        AddIfChanged(actions, SetupStep::kAudioBufferChanged, i, current.audioBuffer[i],
                     next.audioBuffer[i]);
    for (std::size_t i = 0; i < kDeinterlaceCount; ++i)
        AddIfChanged(actions, SetupStep::kDeinterlaceChanged, i, current.DeinterlaceOn(i) ? 1 : 0,
                     next.deinterlace[i]);
    AddIfChanged(actions, SetupStep::kHourSystemChanged, 0, current.hourSystem, next.hourSystem);
    AddIfChanged(actions, SetupStep::kWatermarkChanged, 0, current.watermark, next.watermark);

    if (!playerMode) {
        actions.push_back({SetupStep::kSave, 0, 0});
        actions.push_back({SetupStep::kEnsureUpgradeFolder, 0, 0});
        actions.push_back({SetupStep::kWriteLocalLog, kSetupLogKind, kSetupLogSubType});
    }
    return plan;
}

}  // namespace taviro::app

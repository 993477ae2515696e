// What the main window does when the local setup dialog is confirmed, as an ordered list
// of steps computed from the current and the edited setup. The window runs the steps in
// order; nothing here touches a window, the store or a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/local_setup.h"

namespace taviro::app {

enum class SetupStep {
    kRecreateGrid,         // value: the new draw mode; the grid keeps its geometry
    kTakeOver,             // the window's setup becomes the plan's `result`
    kDateFormatChanged,    // value: new format
    kSaveFormatChanged,    // value: new format
    kLocationChanged,      // the storage folder moved (the plan's `result.location`)
    kOpacityChanged,       // index 0..8, value: new opacity (for windows opened from now on)
    kAudioBufferChanged,   // index 0..2, value: new depth
    kDeinterlaceChanged,   // index: channel 0..15, value: 0 off, 1 on
    kHourSystemChanged,    // value: new system
    kWatermarkChanged,     // value: new switch
    kSave,                 // SaveLocalSetup of `result`
    kEnsureUpgradeFolder,  // "Upgrade" under `result.location`
    kWriteLocalLog,        // index: kind 8, value: sub-type 1 (settings confirmed)
};

struct SetupAction {
    SetupStep step = SetupStep::kTakeOver;
    std::size_t index = 0;
    std::uint32_t value = 0;

    bool operator==(const SetupAction&) const = default;
};

inline constexpr std::uint32_t kSetupLogKind = 8;
inline constexpr std::uint32_t kSetupLogSubType = 1;

struct SetupApplyPlan {
    LocalSetup result;  // what the window keeps from now on
    std::vector<SetupAction> actions;
};

// The edited block with every value the client cannot use replaced by the current one
// (a dialog never produces such values, but the block comes from another module).
LocalSetup SanitisedEdit(const LocalSetup& current, const LocalSetup& edited);

// The order of a confirmed setup: recreate the grid when the draw mode changed; take over
// the values (the location only outside player mode) and report each change; outside
// player mode save, make "Upgrade" under the possibly new location and log the change.
// Save, folder and log entry happen on every confirm, changed or not.
SetupApplyPlan PlanSetupApply(const LocalSetup& current, const LocalSetup& edited, bool playerMode);

}  // namespace taviro::app

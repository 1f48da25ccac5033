#include "app/focus.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array kReadyOrder{HitTarget::Browse, HitTarget::DesktopShortcut,
                                 HitTarget::LaunchAfterInstall, HitTarget::Primary};
constexpr std::array kInstallingOrder{HitTarget::Secondary};
constexpr std::array kEndOrder{HitTarget::Primary, HitTarget::Secondary};

bool IsCheckBox(HitTarget target) {
    return target == HitTarget::DesktopShortcut || target == HitTarget::LaunchAfterInstall;
}

}  // namespace

HitTarget StepFocus(std::span<const HitTarget> order, HitTarget focused, bool backwards) {
    if (order.empty()) return HitTarget::None;
    const auto at = std::find(order.begin(), order.end(), focused);
    if (at == order.end()) return order.front();
    const size_t index = static_cast<size_t>(at - order.begin());
    const size_t count = order.size();
    return order[backwards ? (index + count - 1) % count : (index + 1) % count];
}

std::span<const HitTarget> FocusOrder(InstallStage stage) {
    switch (stage) {
        case InstallStage::Ready:
            return kReadyOrder;
        case InstallStage::Installing:
            return kInstallingOrder;
        case InstallStage::Done:
        case InstallStage::Error:
            return kEndOrder;
    }
    return {};
}

HitTarget PrimaryControl(InstallStage stage) {
    // Cancel is the only button while installing.
    return stage == InstallStage::Installing ? HitTarget::Secondary
           : FocusOrder(stage).empty()       ? HitTarget::None
                                             : HitTarget::Primary;
}

bool IsFocusable(InstallStage stage, HitTarget target) {
    const std::span<const HitTarget> order = FocusOrder(stage);
    return std::find(order.begin(), order.end(), target) != order.end();
}

HitTarget FocusedControl(const InstallerState& state, InstallStage stage) {
    if (state.focusStage == stage && IsFocusable(stage, state.focusTarget))
        return state.focusTarget;
    return PrimaryControl(stage);
}

KeyOutcome OutcomeOfKey(InstallStage stage, HitTarget focused, FocusKey key) {
    const std::span<const HitTarget> order = FocusOrder(stage);
    if (order.empty()) return {};
    if (!IsFocusable(stage, focused)) focused = PrimaryControl(stage);
    KeyOutcome outcome{focused, HitTarget::None};
    switch (key) {
        case FocusKey::Tab:
        case FocusKey::ShiftTab:
            outcome.focus = StepFocus(order, focused, key == FocusKey::ShiftTab);
            break;
        case FocusKey::Space:
            outcome.command = focused;
            break;
        case FocusKey::Enter:
            // A check box has no press of its own: Enter means "go on" with the screen's button.
            outcome.command = IsCheckBox(focused) ? PrimaryControl(stage) : focused;
            break;
        case FocusKey::Escape:
            // Ready has no Close button of its own: Escape closes like the title bar's button.
            outcome.command =
                stage == InstallStage::Ready ? HitTarget::Close : HitTarget::Secondary;
            break;
    }
    return outcome;
}

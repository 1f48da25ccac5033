// Keyboard use of each screen: the reading order, where the focus starts, Tab and Shift+Tab with
// wrap-around, and the command each key gives for each focused control.
#include <gtest/gtest.h>

#include <vector>

#include "app/focus.h"
#include "app/hit_test.h"
#include "app/state.h"

namespace {

using enum HitTarget;

std::vector<HitTarget> Order(InstallStage stage) {
    const auto order = FocusOrder(stage);
    return {order.begin(), order.end()};
}

TEST(FocusOrder, EachScreenListsItsControlsInReadingOrder) {
    EXPECT_EQ(Order(InstallStage::Ready),
              (std::vector{Browse, DesktopShortcut, LaunchAfterInstall, Primary}));
    EXPECT_EQ(Order(InstallStage::Installing), (std::vector{Secondary}));
    EXPECT_EQ(Order(InstallStage::Done), (std::vector{Primary, Secondary}));
    EXPECT_EQ(Order(InstallStage::Error), (std::vector{Primary, Secondary}));
    EXPECT_TRUE(Order(static_cast<InstallStage>(7)).empty());
}

TEST(FocusOrder, TheFocusStartsOnTheScreensPrimaryButton) {
    EXPECT_EQ(PrimaryControl(InstallStage::Ready), Primary);
    EXPECT_EQ(PrimaryControl(InstallStage::Installing), Secondary);
    EXPECT_EQ(PrimaryControl(InstallStage::Done), Primary);
    EXPECT_EQ(PrimaryControl(InstallStage::Error), Primary);
    EXPECT_EQ(PrimaryControl(static_cast<InstallStage>(7)), None);
}

TEST(FocusOrder, TabAndShiftTabWalkTheOrderAndWrapAround) {
    for (InstallStage stage :
         {InstallStage::Ready, InstallStage::Installing, InstallStage::Done, InstallStage::Error}) {
        const std::vector<HitTarget> order = Order(stage);
        for (size_t i = 0; i < order.size(); ++i) {
            const HitTarget next = order[(i + 1) % order.size()];
            const HitTarget previous = order[(i + order.size() - 1) % order.size()];
            EXPECT_EQ(OutcomeOfKey(stage, order[i], FocusKey::Tab).focus, next);
            EXPECT_EQ(OutcomeOfKey(stage, order[i], FocusKey::ShiftTab).focus, previous);
            EXPECT_EQ(OutcomeOfKey(stage, order[i], FocusKey::Tab).command, None);
        }
    }
    // The screens have 1, 2 and 4 controls, counts at which a wrap that underflows still lands
    // on the last one; a screen of 3 or 5 would not.
    for (const std::vector<HitTarget>& order :
         {std::vector{Browse, DesktopShortcut, Primary},
          std::vector{Browse, DesktopShortcut, LaunchAfterInstall, Primary, Secondary}}) {
        EXPECT_EQ(StepFocus(order, order.front(), true), order.back());
        EXPECT_EQ(StepFocus(order, order.back(), false), order.front());
    }
}

struct KeyCase {
    const char* what;
    InstallStage stage;
    HitTarget focused;
    FocusKey key;
    HitTarget command;
};

TEST(FocusKeys, EachKeyGivesTheCommandOfItsScreen) {
    const KeyCase cases[] = {
        {"space toggles a check box", InstallStage::Ready, DesktopShortcut, FocusKey::Space,
         DesktopShortcut},
        {"space on the other box", InstallStage::Ready, LaunchAfterInstall, FocusKey::Space,
         LaunchAfterInstall},
        {"space presses Browse", InstallStage::Ready, Browse, FocusKey::Space, Browse},
        {"space presses Install", InstallStage::Ready, Primary, FocusKey::Space, Primary},
        {"enter presses the focused Browse", InstallStage::Ready, Browse, FocusKey::Enter, Browse},
        {"enter on a check box presses Install", InstallStage::Ready, DesktopShortcut,
         FocusKey::Enter, Primary},
        {"enter on the other box presses Install", InstallStage::Ready, LaunchAfterInstall,
         FocusKey::Enter, Primary},
        {"escape on Ready closes", InstallStage::Ready, DesktopShortcut, FocusKey::Escape, Close},
        {"enter presses Cancel", InstallStage::Installing, Secondary, FocusKey::Enter, Secondary},
        {"escape cancels", InstallStage::Installing, Secondary, FocusKey::Escape, Secondary},
        {"enter presses Launch", InstallStage::Done, Primary, FocusKey::Enter, Primary},
        {"space presses Close", InstallStage::Done, Secondary, FocusKey::Space, Secondary},
        {"escape on Done closes", InstallStage::Done, Primary, FocusKey::Escape, Secondary},
        {"enter presses Retry", InstallStage::Error, Primary, FocusKey::Enter, Primary},
        {"escape on Error closes", InstallStage::Error, Primary, FocusKey::Escape, Secondary},
        // A focus left over from another screen counts as that screen's primary button.
        {"a stale focus acts as the primary", InstallStage::Installing, Browse, FocusKey::Space,
         Secondary},
        {"nothing on an unknown screen", static_cast<InstallStage>(7), Primary, FocusKey::Enter,
         None},
    };
    for (const KeyCase& c : cases) {
        const KeyOutcome outcome = OutcomeOfKey(c.stage, c.focused, c.key);
        EXPECT_EQ(outcome.command, c.command) << c.what;
        if (c.command != None) {
            EXPECT_TRUE(IsFocusable(c.stage, outcome.focus)) << c.what;
        }
    }
}

TEST(FocusedControl, TheStoredFocusHoldsOnlyOnItsOwnScreen) {
    InstallerState state;
    EXPECT_EQ(FocusedControl(state, InstallStage::Ready), Primary);
    state.focusTarget = DesktopShortcut;
    state.focusStage = InstallStage::Ready;
    EXPECT_EQ(FocusedControl(state, InstallStage::Ready), DesktopShortcut);
    EXPECT_EQ(FocusedControl(state, InstallStage::Installing), Secondary);
    state.focusTarget = Secondary;
    state.focusStage = InstallStage::Error;
    EXPECT_EQ(FocusedControl(state, InstallStage::Error), Secondary);
    EXPECT_EQ(FocusedControl(state, InstallStage::Done), Primary);
}

// The focus outline is drawn around ControlRect: it must be the place the mouse hits the control.
TEST(FocusOrder, EachFocusableControlLiesWhereTheMouseHitsIt) {
    for (InstallStage stage :
         {InstallStage::Ready, InstallStage::Installing, InstallStage::Done, InstallStage::Error}) {
        InstallerState state;
        InstallProgress p;
        p.stage = stage;
        PublishProgress(state, p, false);
        for (HitTarget target : Order(stage)) {
            LayoutRect r{};
            ASSERT_TRUE(ControlRect(state, stage, target, &r)) << static_cast<int>(target);
            EXPECT_EQ(HitTest(state, r.x + 1, r.y + 1), target);
            EXPECT_EQ(HitTest(state, r.x + r.width - 1, r.y + r.height - 1), target);
        }
    }
    InstallerState state;
    LayoutRect r{};
    EXPECT_FALSE(ControlRect(state, InstallStage::Installing, Browse, &r));
    EXPECT_FALSE(ControlRect(state, InstallStage::Ready, Secondary, &r));
    EXPECT_FALSE(ControlRect(state, InstallStage::Done, None, &r));
}

TEST(FocusedControl, TheDefaultsKeepTheCueHidden) {
    const InstallerState state;
    EXPECT_FALSE(state.focusVisible);
    EXPECT_EQ(state.focusTarget, Primary);
    EXPECT_EQ(state.focusStage, InstallStage::Ready);
}

}  // namespace

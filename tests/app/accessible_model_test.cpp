// What a screen reader is told: the children of each screen with their names, roles, states,
// values and default actions, and the events that announce a change.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/accessible_model.h"
#include "app/install_start.h"
#include "app/state.h"
#include "common/text.h"

namespace {

using R = AccessibleRole;
constexpr uint32_t kButton = kAccessibleFocusable;
constexpr uint32_t kText = kAccessibleReadOnly;

struct Expected {
    R role;
    std::u16string name;
    uint32_t states;
    std::u16string action;
    std::u16string value;
};

void ExpectElements(const std::vector<AccessibleElement>& actual,
                    const std::vector<Expected>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE("child " + std::to_string(i + 1) + " " + Utf16ToUtf8(expected[i].name));
        EXPECT_EQ(actual[i].childId, static_cast<int32_t>(i + 1));
        EXPECT_EQ(actual[i].role, expected[i].role);
        EXPECT_EQ(actual[i].name, expected[i].name);
        EXPECT_EQ(actual[i].states, expected[i].states);
        EXPECT_EQ(actual[i].defaultAction, expected[i].action);
        EXPECT_EQ(actual[i].value, expected[i].value);
    }
}

InstallProgress At(InstallStage stage) {
    InstallProgress p;
    p.stage = stage;
    return p;
}

TEST(AccessibleElements, ReadyListsTheFolderAndItsControlsWithTheFocusOnInstall) {
    InstallerState state;
    state.installDir = u"C:\\Games\\VarnokClient";
    state.launchAfterInstall = false;
    ExpectElements(
        AccessibleElements(state, At(InstallStage::Ready)),
        {{R::StaticText, u"C:\\Games\\VarnokClient", kText, u"", u""},
         {R::PushButton, u"Browse", kButton, u"Press", u""},
         {R::CheckBox, u"Desktop shortcut", kButton | kAccessibleChecked, u"Uncheck", u""},
         {R::CheckBox, u"Launch after install", kButton, u"Check", u""},
         {R::PushButton, u"Install", kButton | kAccessibleFocused, u"Press", u""}});
}

TEST(AccessibleElements, InstallingReadsTheStatusThePercentageAndCancel) {
    InstallerState state;
    InstallProgress p = At(InstallStage::Installing);
    p.statusText = u"Downloading";
    p.bytesDone = 1850000;
    p.bytesTotal = 3000000;
    ExpectElements(AccessibleElements(state, p),
                   {{R::StaticText, u"Downloading", kText, u"", u""},
                    {R::ProgressBar, u"Progress", kText, u"", u"62%"},
                    {R::PushButton, u"Cancel", kButton | kAccessibleFocused, u"Press", u""}});

    // A moving bar has no value; a requested cancel makes Cancel unavailable.
    p.statusText = u"Connecting";
    p.indeterminate = true;
    state.cancelRequested = true;
    const auto elements = AccessibleElements(state, p);
    EXPECT_EQ(elements[1].value, u"");
    EXPECT_EQ(elements[2].states, kButton | kAccessibleFocused | kAccessibleUnavailable);

    // A run that waits for another one's lock says so between the bar and Cancel.
    state.cancelRequested = false;
    ExpectElements(AccessibleElements(state, ConnectingProgress(kWaitingForOtherInstallText)),
                   {{R::StaticText, u"Connecting", kText, u"", u""},
                    {R::ProgressBar, u"Progress", kText, u"", u""},
                    {R::StaticText, kWaitingForOtherInstallText, kText, u"", u""},
                    {R::PushButton, u"Cancel", kButton | kAccessibleFocused, u"Press", u""}});
}

TEST(AccessibleElements, DoneAndErrorReadTheirTextsAndTwoButtons) {
    InstallerState state;
    ExpectElements(AccessibleElements(state, At(InstallStage::Done)),
                   {{R::StaticText, u"Installed", kText, u"", u""},
                    {R::PushButton, u"Launch", kButton | kAccessibleFocused, u"Press", u""},
                    {R::PushButton, u"Close", kButton, u"Press", u""}});
    InstallProgress failed = At(InstallStage::Error);
    failed.errorText = u"Download failed. Please try again.";
    state.focusTarget = HitTarget::Secondary;
    state.focusStage = InstallStage::Error;
    ExpectElements(AccessibleElements(state, failed),
                   {{R::StaticText, u"Installation failed", kText, u"", u""},
                    {R::StaticText, u"Download failed. Please try again.", kText, u"", u""},
                    {R::PushButton, u"Retry", kButton, u"Press", u""},
                    {R::PushButton, u"Close", kButton | kAccessibleFocused, u"Press", u""}});
}

TEST(AccessibleElements, ControlsSitWhereTheMouseHitsThem) {
    InstallerState state;
    const auto ready = AccessibleElements(state, At(InstallStage::Ready));
    EXPECT_EQ(ready[1].target, HitTarget::Browse);
    EXPECT_EQ(ready[1].rect.x, state.browseRect.x);
    EXPECT_EQ(ready[4].rect.width, state.wideButtonRect.width);
    const auto done = AccessibleElements(state, At(InstallStage::Done));
    EXPECT_EQ(done[2].target, HitTarget::Secondary);
    EXPECT_EQ(done[2].rect.x, state.rightButtonRect.x);
    EXPECT_EQ(FindAccessibleChild(done, 3), &done[2]);
    EXPECT_EQ(FindAccessibleChild(done, 0), nullptr);
    EXPECT_EQ(FindAccessibleChild(done, 4), nullptr);
}

TEST(AccessibleElements, AnUnknownStageHasNoChildren) {
    InstallerState state;
    EXPECT_TRUE(AccessibleElements(state, At(static_cast<InstallStage>(7))).empty());
}

using K = AccessibleEventKind;

TEST(AccessibleChanges, ANewScreenIsAReorderThenItsFocus) {
    InstallerState state;
    const auto ready = AccessibleElements(state, At(InstallStage::Ready));
    const auto installing = AccessibleElements(state, At(InstallStage::Installing));
    EXPECT_EQ(AccessibleChanges(ready, installing),
              (std::vector<AccessibleEvent>{{K::Reorder, 0}, {K::Focus, 3}}));
    // The end screens: the same two buttons, but another screen.
    const auto done = AccessibleElements(state, At(InstallStage::Done));
    const auto error = AccessibleElements(state, At(InstallStage::Error));
    EXPECT_EQ(AccessibleChanges(done, error),
              (std::vector<AccessibleEvent>{{K::Reorder, 0}, {K::Focus, 3}}));
    // The same roles and names, but each button now stands for the other's control.
    auto swapped = done;
    std::swap(swapped[1].target, swapped[2].target);
    EXPECT_EQ(AccessibleChanges(done, swapped),
              (std::vector<AccessibleEvent>{{K::Reorder, 0}, {K::Focus, 2}}));
}

TEST(AccessibleChanges, OnOneScreenEachChangeIsAnnouncedOnce) {
    InstallerState state;
    const auto before = AccessibleElements(state, At(InstallStage::Ready));
    EXPECT_TRUE(AccessibleChanges(before, before).empty());

    state.createDesktopShortcut = false;
    EXPECT_EQ(AccessibleChanges(before, AccessibleElements(state, At(InstallStage::Ready))),
              (std::vector<AccessibleEvent>{{K::StateChange, 3}}));

    state.createDesktopShortcut = true;
    state.focusTarget = HitTarget::Browse;
    EXPECT_EQ(AccessibleChanges(before, AccessibleElements(state, At(InstallStage::Ready))),
              (std::vector<AccessibleEvent>{{K::Focus, 2}}));

    InstallProgress connecting = At(InstallStage::Installing);
    connecting.statusText = u"Connecting";
    connecting.indeterminate = true;
    InstallProgress downloading = At(InstallStage::Installing);
    downloading.statusText = u"Downloading";
    downloading.bytesDone = 1;
    downloading.bytesTotal = 2;
    EXPECT_EQ(AccessibleChanges(AccessibleElements(state, connecting),
                                AccessibleElements(state, downloading)),
              (std::vector<AccessibleEvent>{{K::NameChange, 1}, {K::ValueChange, 2}}));
}

}  // namespace

#include "app/accessible_model.h"

#include "app/focus.h"
#include "ui/paint_text.h"

namespace {

AccessibleElement Text(std::u16string name, LayoutRect rect) {
    AccessibleElement e;
    e.role = AccessibleRole::StaticText;
    e.name = std::move(name);
    e.states = kAccessibleReadOnly;
    e.rect = rect;
    return e;
}

AccessibleElement Button(HitTarget target, std::u16string name, LayoutRect rect) {
    AccessibleElement e;
    e.role = AccessibleRole::PushButton;
    e.target = target;
    e.name = std::move(name);
    e.defaultAction = u"Press";
    e.states = kAccessibleFocusable;
    e.rect = rect;
    return e;
}

AccessibleElement CheckBox(HitTarget target, std::u16string name, bool checked, LayoutRect rect) {
    AccessibleElement e;
    e.role = AccessibleRole::CheckBox;
    e.target = target;
    e.name = std::move(name);
    // The action names what a press would do, as the system's own check boxes say it.
    e.defaultAction = checked ? u"Uncheck" : u"Check";
    e.states = kAccessibleFocusable | (checked ? kAccessibleChecked : 0u);
    e.rect = rect;
    return e;
}

AccessibleElement Bar(const InstallProgress& progress) {
    AccessibleElement e;
    e.role = AccessibleRole::ProgressBar;
    e.name = u"Progress";
    // A moving bar has no amount to read out.
    if (HasKnownTotal(progress)) e.value = FormatPercent(ProgressFraction(progress));
    e.states = kAccessibleReadOnly;
    e.rect = {kTrackLeft, 192.0f, kTrackWidth, kTrackHeight};
    return e;
}

bool SameShape(const std::vector<AccessibleElement>& a, const std::vector<AccessibleElement>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].role != b[i].role || a[i].target != b[i].target) return false;
    return true;
}

int32_t FocusedChild(const std::vector<AccessibleElement>& elements) {
    for (const AccessibleElement& e : elements)
        if (e.states & kAccessibleFocused) return e.childId;
    return 0;
}

}  // namespace

std::vector<AccessibleElement> AccessibleElements(const InstallerState& state,
                                                  const InstallProgress& progress) {
    std::vector<AccessibleElement> out;
    switch (progress.stage) {
        case InstallStage::Ready:
            out.push_back(Text(state.installDir, {46.0f, 146.0f, 272.0f, 38.0f}));
            out.push_back(Button(HitTarget::Browse, u"Browse", state.browseRect));
            out.push_back(CheckBox(HitTarget::DesktopShortcut, u"Desktop shortcut",
                                   state.createDesktopShortcut, state.shortcutCheckRect));
            out.push_back(CheckBox(HitTarget::LaunchAfterInstall, u"Launch after install",
                                   state.launchAfterInstall, state.launchCheckRect));
            out.push_back(Button(HitTarget::Primary, u"Install", state.wideButtonRect));
            break;
        case InstallStage::Installing: {
            out.push_back(Text(progress.statusText, {36.0f, 158.0f, 280.0f, 22.0f}));
            out.push_back(Bar(progress));
            if (!progress.noteText.empty())
                out.push_back(Text(progress.noteText, {36.0f, 208.0f, 368.0f, 18.0f}));
            AccessibleElement cancel =
                Button(HitTarget::Secondary, u"Cancel", state.wideButtonRect);
            // A second Cancel does nothing while the worker winds down.
            if (state.cancelRequested.load()) cancel.states |= kAccessibleUnavailable;
            out.push_back(std::move(cancel));
            break;
        }
        case InstallStage::Done:
            out.push_back(Text(u"Installed", {36.0f, 210.0f, 368.0f, 24.0f}));
            out.push_back(Button(HitTarget::Primary, u"Launch", state.leftButtonRect));
            out.push_back(Button(HitTarget::Secondary, u"Close", state.rightButtonRect));
            break;
        case InstallStage::Error:
            out.push_back(Text(u"Installation failed", {50.0f, 160.0f, 340.0f, 22.0f}));
            out.push_back(Text(progress.errorText, {50.0f, 186.0f, 340.0f, 48.0f}));
            out.push_back(Button(HitTarget::Primary, u"Retry", state.leftButtonRect));
            out.push_back(Button(HitTarget::Secondary, u"Close", state.rightButtonRect));
            break;
    }
    const HitTarget focused = FocusedControl(state, progress.stage);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i].childId = static_cast<int32_t>(i + 1);
        if (out[i].target != HitTarget::None && out[i].target == focused)
            out[i].states |= kAccessibleFocused;
    }
    return out;
}

const AccessibleElement* FindAccessibleChild(const std::vector<AccessibleElement>& elements,
                                             long childId) {
    if (childId < 1 || childId > static_cast<long>(elements.size())) return nullptr;
    return &elements[static_cast<size_t>(childId - 1)];
}

std::vector<AccessibleEvent> AccessibleChanges(const std::vector<AccessibleElement>& before,
                                               const std::vector<AccessibleElement>& after) {
    std::vector<AccessibleEvent> events;
    const int32_t focus = FocusedChild(after);
    if (!SameShape(before, after)) {
        events.push_back({AccessibleEventKind::Reorder, 0});
        if (focus != 0) events.push_back({AccessibleEventKind::Focus, focus});
        return events;
    }
    for (size_t i = 0; i < after.size(); ++i) {
        const int32_t id = after[i].childId;
        if (before[i].name != after[i].name)
            events.push_back({AccessibleEventKind::NameChange, id});
        if (before[i].value != after[i].value)
            events.push_back({AccessibleEventKind::ValueChange, id});
        // Focus moving is its own event; only the other state bits count as a state change.
        if ((before[i].states ^ after[i].states) & ~kAccessibleFocused)
            events.push_back({AccessibleEventKind::StateChange, id});
    }
    if (focus != 0 && focus != FocusedChild(before))
        events.push_back({AccessibleEventKind::Focus, focus});
    return events;
}

#include "app/hit_test.h"

namespace {

// Below this line the empty surface is not a caption: the header and its shadow end at 43, and
// the band down to 48 gives a comfortable grip for dragging.
constexpr float kCaptionBottom = 48.0f;

}  // namespace

bool PointInRect(const LayoutRect& rect, float x, float y) {
    return x >= rect.x && x <= rect.x + rect.width && y >= rect.y && y <= rect.y + rect.height;
}

HitTarget HitTest(InstallerState& state, float x, float y) {
    const InstallStage stage = GetStage(state);
    if (PointInRect(state.minimizeRect, x, y)) return HitTarget::Minimize;
    if (PointInRect(state.closeRect, x, y)) return HitTarget::Close;
    switch (stage) {
        case InstallStage::Ready:
            if (PointInRect(state.browseRect, x, y)) return HitTarget::Browse;
            if (PointInRect(state.shortcutCheckRect, x, y)) return HitTarget::DesktopShortcut;
            if (PointInRect(state.launchCheckRect, x, y)) return HitTarget::LaunchAfterInstall;
            if (PointInRect(state.wideButtonRect, x, y)) return HitTarget::Primary;
            break;
        case InstallStage::Installing:
            if (PointInRect(state.wideButtonRect, x, y)) return HitTarget::Secondary;
            break;
        case InstallStage::Done:
        case InstallStage::Error:
            if (PointInRect(state.leftButtonRect, x, y)) return HitTarget::Primary;
            if (PointInRect(state.rightButtonRect, x, y)) return HitTarget::Secondary;
            break;
    }
    return y <= kCaptionBottom ? HitTarget::Caption : HitTarget::None;
}

bool ControlRect(const InstallerState& state, InstallStage stage, HitTarget target,
                 LayoutRect* rect) {
    const bool ready = stage == InstallStage::Ready;
    const bool end = stage == InstallStage::Done || stage == InstallStage::Error;
    switch (target) {
        case HitTarget::Minimize:
            *rect = state.minimizeRect;
            return true;
        case HitTarget::Close:
            *rect = state.closeRect;
            return true;
        case HitTarget::Browse:
            *rect = state.browseRect;
            return ready;
        case HitTarget::DesktopShortcut:
            *rect = state.shortcutCheckRect;
            return ready;
        case HitTarget::LaunchAfterInstall:
            *rect = state.launchCheckRect;
            return ready;
        case HitTarget::Primary:
            *rect = ready ? state.wideButtonRect : state.leftButtonRect;
            return ready || end;
        case HitTarget::Secondary:
            *rect =
                stage == InstallStage::Installing ? state.wideButtonRect : state.rightButtonRect;
            return stage == InstallStage::Installing || end;
        case HitTarget::None:
        case HitTarget::Caption:
            break;
    }
    return false;
}

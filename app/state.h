// The installer's one state record and the protocol by which the install worker tells the
// window that something changed. Shared by the UI thread and at most one worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/failure.h"

// Opaque views of the Windows handle types, so the record stays portable.
struct HWND__;
struct HINSTANCE__;
using WindowHandle = HWND__*;
using InstanceHandle = HINSTANCE__*;

enum class InstallStage : int32_t { Ready = 0, Installing = 1, Done = 2, Error = 3 };

enum class HitTarget : int32_t {
    None = 0,
    Minimize = 1,
    Close = 2,
    Browse = 3,
    DesktopShortcut = 4,
    LaunchAfterInstall = 5,
    Primary = 6,
    Secondary = 7,
    Caption = 8,
};

inline constexpr uint32_t WM_INSTALL_PROGRESS = 0x8000 + 1;  // WM_APP + 1: repaint
inline constexpr uint32_t WM_INSTALL_STAGE = 0x8000 + 2;     // WM_APP + 2: terminal stage

// The block copied whole between the threads.
struct InstallProgress {
    InstallStage stage = InstallStage::Ready;
    std::u16string statusText;
    std::u16string errorText;
    std::string version;
    std::u16string clientExePath;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    double bytesPerSecond = 0.0;
    bool indeterminate = false;
    // One line under the track where no sizes are shown: why the run is still waiting.
    std::u16string noteText;
    // On the Error screen: what lay behind the message, for whoever supports the user. Never
    // painted; the message is what the user sees.
    Failure failure;
};

struct LayoutRect {
    float x, y, width, height;
};

// One child of the window's accessible object, in the terms a screen reader asks for; built by
// app/accessible_model.h and read by the MSAA layer.
enum class AccessibleRole : int32_t { StaticText, PushButton, CheckBox, ProgressBar };
enum AccessibleStateBit : uint32_t {
    kAccessibleFocusable = 1u << 0,
    kAccessibleFocused = 1u << 1,
    kAccessibleChecked = 1u << 2,
    kAccessibleUnavailable = 1u << 3,
    kAccessibleReadOnly = 1u << 4,
};
struct AccessibleElement {
    int32_t childId = 0;  // 1-based position in reading order
    AccessibleRole role = AccessibleRole::StaticText;
    HitTarget target = HitTarget::None;  // the command behind it; None for texts and the bar
    std::u16string name;
    std::u16string value;          // the percentage of the progress bar
    std::u16string defaultAction;  // empty when there is none
    uint32_t states = 0;           // AccessibleStateBit values
    LayoutRect rect{};             // logical pixels
};

// Owns the GDI+ logo bitmap; it must be reset before GDI+ shuts down.
struct LogoDeleter {
    void operator()(void* bitmap) const;
};
using LogoPtr = std::unique_ptr<void, LogoDeleter>;

struct UnattendedLog;

struct InstallerState {
    InstanceHandle instance = nullptr;
    WindowHandle window = nullptr;
    float dpiScale = 1.0f;
    bool createDesktopShortcut = true;
    bool launchAfterInstall = true;
    // Nobody is there (--silent): nothing is shown, nothing is launched, and an install that
    // finds another one running ends at once instead of waiting. Set before the first install.
    bool unattended = false;
    // The record of such a run (--log); every block the worker publishes goes to it.
    UnattendedLog* log = nullptr;
    std::u16string installDir;
    std::string baseUrl;  // BuiltInWebBaseUrl unless a test says otherwise
    LogoPtr logo;
    HitTarget hoverTarget = HitTarget::None;
    HitTarget pressedTarget = HitTarget::None;
    float animPhase = 0.0f;
    bool mouseTracking = false;
    // Keyboard focus among the controls of focusStage's screen; a newer screen starts at its
    // primary button. The cue stays hidden until the keyboard is used, so mouse-only screens
    // look exactly as they always did.
    HitTarget focusTarget = HitTarget::Primary;
    InstallStage focusStage = InstallStage::Ready;
    bool focusVisible = false;
    // What screen readers were last told, so that only changes are announced.
    std::vector<AccessibleElement> announcedElements;
    std::mutex mutex;  // guards progress and nothing else
    InstallProgress progress;
    std::atomic<bool> workerBusy{false};
    std::atomic<bool> cancelRequested{false};
    std::thread worker;

    LayoutRect minimizeRect{370, 5, 28, 26};
    LayoutRect closeRect{402, 5, 28, 26};
    LayoutRect browseRect{325, 151, 74, 28};
    LayoutRect shortcutCheckRect{36, 198, 340, 24};
    LayoutRect launchCheckRect{36, 226, 340, 24};
    LayoutRect wideButtonRect{36, 264, 368, 42};
    LayoutRect leftButtonRect{36, 264, 234, 42};
    LayoutRect rightButtonRect{282, 264, 122, 42};

    InstallerState();
};

// What a new install worker gets, copied when Install was pressed; the worker owns it. Later
// changes on the window (folder, check boxes) do not reach a running worker.
struct WorkerArgs {
    InstallerState* state = nullptr;
    std::u16string installDir;
    std::string baseUrl;
    bool createDesktopShortcut = true;
};

InstallStage GetStage(InstallerState& state);
InstallProgress SnapshotProgress(InstallerState& state);
std::u16string SnapshotClientExePath(InstallerState& state);

// Replaces the whole progress block, then posts WM_INSTALL_PROGRESS (or WM_INSTALL_STAGE when
// stageChanged) to the window if it still exists. The post happens after the lock is released.
void PublishProgress(InstallerState& state, const InstallProgress& block, bool stageChanged);

// Ends an install with the Error screen: clears workerBusy first, then publishes a block that
// holds only the stage, the message and what lay behind it, and posts WM_INSTALL_STAGE.
void FailInstall(InstallerState& state, std::u16string_view message,
                 const Failure& failure = Failure{});

// The two window questions of the protocol. Tests replace them; the defaults ask the system.
using WindowAliveFn = bool (*)(WindowHandle window);
using PostMessageFn = void (*)(WindowHandle window, uint32_t message);
extern WindowAliveFn g_windowAlive;
extern PostMessageFn g_postWindowMessage;

// The exit codes of an install that runs without a person (--silent): the only report such a run
// gives. Each way the install worker can end has its own code, so that a deployment tool can act
// on it (retry, report a missing network, a full disk, a running client) and support can tell
// the ends apart; the Windows error behind a failure stays in its Failure record. No code is one
// that deployment tools read as success or as a reboot (0 aside: 1707, 3010, 1641), nor 1, which
// the process has always returned when it could not start its graphics or window.
#pragma once

#include <string_view>

#include "app/state.h"

struct ExitCodeEntry {
    int code;
    const char* wingetResponse;  // how the winget manifest names it (its ReturnResponse)
    const char16_t* text;        // the worker's fixed message, or what the code stands for
};

inline constexpr int kExitInstalled = 0;

// One entry per line, in exactly this shape: the release reads these lines with a regular
// expression to write the winget manifest's ExpectedReturnCodes, so that the two cannot drift.
// A message given here is matched whole, except that of code 13, which the folder follows.
// clang-format off
inline constexpr ExitCodeEntry kExitCodes[] = {
    {10, "invalidParameter", u"Please choose a local disk folder."},
    {11, "noNetwork", u"Could not connect to server. Check your internet."},
    {12, "contactSupport", u"File verification failed."},
    {13, "contactSupport", u"Failed to create install folder: "},
    {14, "contactSupport", u"Download failed."},
    {15, "noNetwork", u"Failed to initialize HTTPS connection."},
    {16, "contactSupport", u"Download failed. Please try again."},
    {17, "diskFull", u"Download failed. Please try again. (the disk is full: Windows error 112 or 39)"},
    {18, "contactSupport", u"Downloaded file is corrupted."},
    {19, "packageInUse", u"Please close running Varnok Client (in system tray) and retry."},
    {20, "contactSupport", u"Could not start the installation. Please try again."},
    {21, "systemNotSupported", u"Run as the machine's own account (LocalSystem): nothing was installed, for nobody would see it."},
    {1618, "installInProgress", u"Another install of the client is running at this moment."},
    {1639, "invalidParameter", u"The command line holds an argument the installer does not understand, an option without its value, or a log file that cannot be made."},
};
// clang-format on

inline constexpr int kExitFolderNotCreated = 13;
inline constexpr int kExitDiskFull = 17;
inline constexpr int kExitClientRunning = 19;
inline constexpr int kExitNotStarted = 20;
// Runs that end before anything is done: a machine-account run, and a command line an
// unattended run did not understand (ERROR_INVALID_COMMAND_LINE, which deployment tools name).
inline constexpr int kExitRunAsSystem = 21;
inline constexpr int kExitInvalidCommandLine = 1639;
inline constexpr int kExitAnotherInstallRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING

// The code for the block an install worker ended with: Done gives 0, a failure the code of its
// message, a download that failed on a full disk (Windows error 112 or 39) its own code, and a
// run that found another one holding the install lock 1618. Any other end (none exists today)
// counts as an install that did not happen.
int ExitCodeForInstallEnd(const InstallProgress& end);

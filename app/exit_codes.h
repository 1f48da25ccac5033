// The exit codes of an unattended install: one per fixed failure message, each with the answer a
// package manager gives its user for it. The release reads these lines to write the winget
// manifest, so each entry stays on one line in this shape. No code is one that deployment tools
// read as success or a reboot (1707, 3010, 1641); 0 is Done and is not listed.
#pragma once

struct ExitCodeEntry {
    int code;
    const char* wingetResponse;
    const char16_t* what;
};

// clang-format off
inline constexpr ExitCodeEntry kExitCodes[] = {
    {10, "invalidParameter", u"Please choose a local disk folder."},
    {11, "noNetwork", u"Could not connect to server. Check your internet."},
    {12, "contactSupport", u"File verification failed."},
    {13, "contactSupport", u"Failed to create install folder: "},
    {14, "contactSupport", u"Download failed."},
    {15, "noNetwork", u"Failed to initialize HTTPS connection."},
    {16, "contactSupport", u"Download failed. Please try again."},
    {17, "diskFull", u"Download failed. Please try again."},
    {18, "contactSupport", u"Downloaded file is corrupted."},
    {19, "packageInUse", u"Please close running Varnok Client (in system tray) and retry."},
    {20, "contactSupport", u"Could not start the installation. Please try again."},
    {1618, "installInProgress", u"Another install of the client is running."},
};
// clang-format on

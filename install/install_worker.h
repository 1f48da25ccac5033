// The install worker: the whole installation, from the folder check to Done, on its own thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/state.h"
#include "common/failure.h"

// What the user is told, one fixed text for each way an install can fail.
inline constexpr char16_t kFolderRefusedMessage[] = u"Please choose a local disk folder.";
inline constexpr char16_t kNoServerMessage[] = u"Could not connect to server. Check your internet.";
inline constexpr char16_t kManifestRefusedMessage[] = u"File verification failed.";
inline constexpr char16_t kFolderNotCreatedMessage[] = u"Failed to create install folder: ";
inline constexpr char16_t kUrlRefusedMessage[] = u"Download failed.";
inline constexpr char16_t kNoConnectionMessage[] = u"Failed to initialize HTTPS connection.";
inline constexpr char16_t kDownloadFailedMessage[] = u"Download failed. Please try again.";
inline constexpr char16_t kCorruptedMessage[] = u"Downloaded file is corrupted.";
inline constexpr char16_t kClientRunningMessage[] =
    u"Please close running Varnok Client (in system tray) and retry.";

// Names in the install folder and the shell.
inline constexpr char16_t kClientExeName[] = u"VarnokClient.exe";
inline constexpr char16_t kPartialDownloadName[] = u".VarnokClient.exe.part";
inline constexpr char16_t kUninstallerName[] = u"Uninstall.exe";
inline constexpr char16_t kShortcutFileName[] = u"Varnok Client.lnk";
inline constexpr char16_t kStartMenuFolderName[] = u"Varnok Client";
inline constexpr char16_t kShortcutDescription[] = u"Varnok Client";

// Anything smaller cannot be the client; a real one is several megabytes.
inline constexpr uint64_t kMinClientExeBytes = 65536;

// How an install run ended, before it is reported to the window.
enum class InstallEnd { Done, Cancelled, Failed };

// The first two bytes and the announced size of a downloaded file look like a Windows executable.
bool LooksLikeClientExe(std::string_view head, uint64_t announcedSize);

// Two paths name the same file when they are equal character for character (case counts), except
// that '\' and '/' are one separator and a run of separators counts as one.
bool SamePathLexically(std::u16string_view a, std::u16string_view b);

// Makes the install folder with its missing parents, or takes the one that is there, and answers
// whether the client may go into it: it must then be a real local folder, and its owner the user
// (it is then made the user's alone), SYSTEM or the Administrators group. On false nothing has
// been put into it and `failure` says why.
bool CreateInstallFolder(std::u16string_view folder, Failure& failure);

// The body of the install thread. Everything it reports goes through PublishProgress and
// FailInstall; it never launches the client.
void RunInstallWorker(WorkerArgs args);

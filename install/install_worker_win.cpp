#include "install/install_worker.h"

#include <exception>
#include <optional>

#include "common/build_info.h"
#include "common/files.h"
#include "common/handles_win.h"
#include "common/known_folders_win.h"
#include "common/own_path.h"
#include "common/path.h"
#include "common/scope_exit.h"
#include "common/text.h"
#include "game/file_queries.h"
#include "game/local_folder.h"
#include "install/registration.h"
#include "manifest/update_manifest.h"
#include "net/download.h"
#include "net/https.h"
#include "settings/launcher_config.h"

namespace {

// What one run found out and what it reports at its end.
struct InstallRun {
    std::u16string message;  // the user's message when the run failed
    Failure failure;         // and what was behind it
    std::string version;
    std::u16string clientPath;
    uint64_t clientBytes = 0;
};

InstallEnd Fail(InstallRun& run, std::u16string message, const char* step) {
    run.message = std::move(message);
    run.failure.step = step;
    return InstallEnd::Failed;
}

// A failure whose code and number the step found out itself.
InstallEnd Fail(InstallRun& run, std::u16string message, const char* step, std::string code,
                uint32_t number = 0) {
    SetFailure(run.failure, std::move(code), number);
    return Fail(run, std::move(message), step);
}

bool VerifyManifestResponse(const std::string& response, std::string_view folderUtf8,
                            UpdateManifest& manifest, std::string& code) {
    const std::string_view key = BuiltInManifestPublicKey();
    // Nothing is assumed installed and no earlier manifest is known: builds and times are held
    // only to the rules' own bounds. A time of 0 reads the system clock.
    if (!VerifyUpdateManifest(response.data(), response.size(), 0, 0, folderUtf8, manifest,
                              key.data(), key.size(), 0, 0)) {
        code = manifest.errorCode;
        return false;
    }
    if (!manifest.signatureVerified)
        code = "signature_not_verified";
    else if (!manifest.launcher.has_value())
        code = "no_launcher_entry";
    return code.empty();
}

DownloadProgressSink ReportDownload(InstallerState& state) {
    return [&state](const DownloadProgress& report) {
        InstallProgress block;
        block.stage = InstallStage::Installing;
        block.statusText = u"Downloading";
        block.bytesDone = report.bytesDone;
        block.bytesTotal = report.bytesTotal;
        block.bytesPerSecond = report.bytesPerSecond;
        PublishProgress(state, block, false);
    };
}

void ReportInstalling(InstallerState& state, uint64_t bytes) {
    InstallProgress block;
    block.stage = InstallStage::Installing;
    block.statusText = u"Installing";
    block.bytesDone = bytes;
    block.bytesTotal = bytes;
    PublishProgress(state, block, false);
}

// Steps after the client is in place never fail the install, not even by running out of memory
// or by the settings folder having no home at all.
template <typename Step>
void BestEffort(Step step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

void CopySelfAsUninstaller(const std::u16string& uninstallerPath) {
    const std::u16string self = g_ownExecutablePath();
    // Started as the uninstaller from the install folder, the installer is that file already.
    if (!self.empty() && !SamePathLexically(self, uninstallerPath))
        CopyFileOver(self, uninstallerPath);
}

void CreateShortcuts(const std::u16string& installDir, const std::u16string& clientPath,
                     bool onDesktop) {
    // The worker's own apartment, only for as long as the shell link objects live.
    const UniqueComApartment com = EnterComApartment();
    if (const auto programs = KnownFolderPath(FOLDERID_Programs)) {
        CreateShortcut(JoinPath(JoinPath(*programs, kStartMenuFolderName), kShortcutFileName),
                       clientPath, installDir, kShortcutDescription);
    }
    if (!onDesktop) return;
    if (const auto desktop = KnownFolderPath(FOLDERID_Desktop)) {
        CreateShortcut(JoinPath(*desktop, kShortcutFileName), clientPath, installDir,
                       kShortcutDescription);
    }
}

// The run from the folder check to the client in place, then the best-effort steps. Returns how
// it ended; the caller reports it once everything this function owns has been cleaned up.
InstallEnd InstallClient(const WorkerArgs& args, InstallRun& run) {
    InstallerState& state = *args.state;
    const std::string folderUtf8 = Utf16ToUtf8(args.installDir);
    if (!IsAcceptableLocalFolder(folderUtf8, false))
        return Fail(run, kFolderRefusedMessage, "folder_check", "folder_refused");

    std::string response;
    if (!HttpsGetToMemory(args.baseUrl + std::string(kManifestPath), kManifestByteLimit, response,
                          run.failure))
        return Fail(run, kNoServerMessage, "manifest_fetch");
    if (state.cancelRequested.load()) return InstallEnd::Cancelled;

    UpdateManifest manifest;
    std::string manifestCode;
    if (!VerifyManifestResponse(response, folderUtf8, manifest, manifestCode))
        return Fail(run, kManifestRefusedMessage, "manifest_check", manifestCode);
    const LauncherEntry& launcher = *manifest.launcher;
    run.version = manifest.launcher_version;

    if (!CreateInstallFolder(args.installDir, run.failure))
        return Fail(run, kFolderNotCreatedMessage + args.installDir, "folder_create");

    run.clientPath = JoinPath(args.installDir, kClientExeName);
    const std::u16string partPath = JoinPath(args.installDir, kPartialDownloadName);
    RemoveFile(partPath);  // a leftover of an interrupted run
    // The partial file goes on every way out that does not move it into place.
    ScopeExit removePart([&partPath] { RemoveFile(partPath); });

    switch (DownloadFile(args.baseUrl + launcher.url, partPath, launcher.size_bytes,
                         launcher.sha256, state.cancelRequested, ReportDownload(state),
                         run.failure)) {
        case DownloadOutcome::UrlRejected:
            return Fail(run, kUrlRefusedMessage, "download");
        case DownloadOutcome::NoConnection:
            return Fail(run, kNoConnectionMessage, "download");
        case DownloadOutcome::Transferred:
            break;
    }
    if (run.failure.code == "cancelled") return InstallEnd::Cancelled;
    if (!run.failure.code.empty()) return Fail(run, kDownloadFailedMessage, "download");

    const std::optional<std::string> head = g_readFileHead(partPath, 2);
    if (!head || !LooksLikeClientExe(*head, launcher.size_bytes))
        return Fail(run, kCorruptedMessage, "executable_check", "not_an_executable");

    run.clientBytes = launcher.size_bytes;
    ReportInstalling(state, run.clientBytes);
    // A running client keeps its executable open; the failed replace is how that shows.
    uint32_t replaceError = 0;
    if (!MoveFileReplacing(partPath, run.clientPath, replaceError))
        return Fail(run, kClientRunningMessage, "replace_client", "replace_failed", replaceError);
    removePart.dismiss();

    const std::u16string uninstallerPath = JoinPath(args.installDir, kUninstallerName);
    BestEffort([&] { CopySelfAsUninstaller(uninstallerPath); });
    BestEffort(
        [&] { CreateShortcuts(args.installDir, run.clientPath, args.createDesktopShortcut); });
    BestEffort([&] {
        RegisterClient(args.installDir, run.clientPath, uninstallerPath, run.version,
                       run.clientBytes);
    });
    BestEffort([] { LoadLauncherConfig(); });
    return InstallEnd::Done;
}

}  // namespace

void RunInstallWorker(WorkerArgs args) {
    InstallerState& state = *args.state;
    InstallRun run;
    InstallEnd end = InstallEnd::Failed;
    try {
        end = InstallClient(args, run);
    } catch (const std::exception&) {
        // Only exhaustion (memory, handles) throws before the client is in place; an uncaught
        // exception would end the whole process, so the run fails like a download that broke.
        Fail(run, kDownloadFailedMessage, "install", "out_of_resources");
        end = InstallEnd::Failed;
    }

    switch (end) {
        case InstallEnd::Failed:
            FailInstall(state, run.message, run.failure);
            return;
        case InstallEnd::Cancelled:
            state.workerBusy.exchange(false);
            PublishProgress(state, InstallProgress{}, true);
            return;
        case InstallEnd::Done: {
            InstallProgress done;
            done.stage = InstallStage::Done;
            done.version = run.version;
            done.clientExePath = run.clientPath;
            done.bytesDone = run.clientBytes;
            done.bytesTotal = run.clientBytes;
            state.workerBusy.exchange(false);
            PublishProgress(state, done, true);
            return;
        }
    }
}

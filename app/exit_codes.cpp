#include "app/exit_codes.h"

#include "app/install_start.h"
#include "install/install_worker.h"

namespace {

constexpr uint32_t kErrorDiskFull = 112;       // ERROR_DISK_FULL
constexpr uint32_t kErrorHandleDiskFull = 39;  // ERROR_HANDLE_DISK_FULL

bool IsDiskFull(const Failure& failure) {
    return failure.source == FailureNumber::Windows &&
           (failure.number == kErrorDiskFull || failure.number == kErrorHandleDiskFull);
}

}  // namespace

int ExitCodeForInstallEnd(const InstallProgress& end) {
    if (end.stage == InstallStage::Done) return kExitInstalled;
    if (end.stage != InstallStage::Error) return kExitNotStarted;
    if (end.failure.code == kAnotherInstallRunningCode) return kExitAnotherInstallRunning;
    const std::u16string_view message = end.errorText;
    if (message == kDownloadFailedMessage && IsDiskFull(end.failure)) return kExitDiskFull;
    if (message.starts_with(kFolderNotCreatedMessage)) return kExitFolderNotCreated;
    for (const ExitCodeEntry& entry : kExitCodes) {
        if (message == entry.text) return entry.code;
    }
    return kExitNotStarted;
}

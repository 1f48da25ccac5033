// Every way an install worker can end, as the exit code a deployment tool acts on.
#include <gtest/gtest.h>

#include <set>

#include "app/exit_codes.h"
#include "app/install_start.h"
#include "install/install_worker.h"

namespace {

InstallProgress Failed(std::u16string message, const char* code = "", uint32_t number = 0,
                       FailureNumber source = FailureNumber::Windows) {
    InstallProgress end;
    end.stage = InstallStage::Error;
    end.errorText = std::move(message);
    SetFailure(end.failure, code, number, source);
    return end;
}

TEST(ExitCodeForInstallEnd, EachEndHasItsOwnCodeAndTheTableListsEachCodeOnce) {
    InstallProgress done;
    done.stage = InstallStage::Done;
    const struct {
        const char* what;
        InstallProgress end;
        int code;
    } rows[] = {
        {"done", done, 0},
        {"folder refused", Failed(kFolderRefusedMessage, "folder_refused"), 10},
        {"no server", Failed(kNoServerMessage, "network_unreachable", 12029), 11},
        {"manifest refused", Failed(kManifestRefusedMessage, "invalid_signature"), 12},
        {"folder not created",
         Failed(kFolderNotCreatedMessage + std::u16string(u"D:\\V"), "x", 183), 13},
        {"file url refused", Failed(kUrlRefusedMessage), 14},
        {"no https handles", Failed(kNoConnectionMessage), 15},
        {"download, http 404", Failed(kDownloadFailedMessage, "http_404", 404, FailureNumber::Http),
         16},
        {"download, access denied", Failed(kDownloadFailedMessage, "disk_or_hash_error", 5), 16},
        {"download, disk full", Failed(kDownloadFailedMessage, "disk_or_hash_error", 112), 17},
        {"download, handle disk full", Failed(kDownloadFailedMessage, "disk_or_hash_error", 39),
         17},
        {"corrupted", Failed(kCorruptedMessage, "not_an_executable"), 18},
        {"client running", Failed(kClientRunningMessage, "replace_failed", 32), 19},
        {"worker not started", Failed(kWorkerNotStartedMessage, "thread_not_started"), 20},
        {"another install running", Failed(u"", kAnotherInstallRunningCode), 1618},
    };
    std::set<int> covered;
    for (const auto& row : rows) {
        EXPECT_EQ(ExitCodeForInstallEnd(row.end), row.code) << row.what;
        if (row.code != 0) covered.insert(row.code);
    }
    std::set<int> listed;
    for (const ExitCodeEntry& entry : kExitCodes) {
        EXPECT_TRUE(listed.insert(entry.code).second) << entry.code << " listed twice";
        // Success, reboot and "could not start its window" mean something else to everyone.
        for (int taken : {0, 1, 1641, 1707, 3010}) EXPECT_NE(entry.code, taken);
    }
    EXPECT_EQ(listed, covered);
}

}  // namespace

// Every way an install worker can end, as the exit code a deployment tool acts on.
#include <gtest/gtest.h>

#include <set>

#include "app/exit_codes.h"
#include "app/install_start.h"
#include "install/install_worker.h"

namespace {

InstallProgress End(std::u16string message, const char* code = "", uint32_t number = 0,
                    FailureNumber source = FailureNumber::Windows) {
    InstallProgress end;
    end.stage = message == u"<done>" ? InstallStage::Done : InstallStage::Error;
    end.errorText = std::move(message);
    SetFailure(end.failure, code, number, source);
    return end;
}

TEST(ExitCodeForInstallEnd, EachEndHasItsOwnCodeAndTheTableListsEachCodeOnce) {
    const std::pair<InstallProgress, int> rows[] = {
        {End(u"<done>"), 0},
        {End(kFolderRefusedMessage), 10},
        {End(kNoServerMessage, "network_unreachable", 12029), 11},
        {End(kManifestRefusedMessage), 12},
        {End(kFolderNotCreatedMessage + std::u16string(u"D:\\V"), "folder_not_created", 5), 13},
        {End(kUrlRefusedMessage), 14},
        {End(kNoConnectionMessage), 15},
        {End(kDownloadFailedMessage, "http_404", 404, FailureNumber::Http), 16},
        {End(kDownloadFailedMessage, "disk_or_hash_error", 5), 16},
        {End(kDownloadFailedMessage, "disk_or_hash_error", 112), 17},
        {End(kDownloadFailedMessage, "disk_or_hash_error", 39), 17},
        {End(kCorruptedMessage), 18},
        {End(kClientRunningMessage, "replace_failed", 32), 19},
        {End(kWorkerNotStartedMessage), 20},
        {End(u"", kAnotherInstallRunningCode), 1618},
        // An end no code was made for is an install that did not happen, never a success.
        {End(u"Some message nobody wrote."), 20},
        {End(kFolderRefusedMessage + std::u16string(u" ")), 20},
        {[] {
             InstallProgress p = End(u"<done>");
             p.stage = InstallStage::Installing;
             return p;
         }(),
         20},
        {[] {
             InstallProgress p = End(u"<done>");
             p.stage = InstallStage::Ready;
             return p;
         }(),
         20},
    };
    // The two codes of runs refused before any worker exists (tested with the command line).
    std::set<int> covered{kExitRunAsSystem, kExitInvalidCommandLine}, listed;
    for (const auto& [end, code] : rows) {
        EXPECT_EQ(ExitCodeForInstallEnd(end), code) << code;
        if (code != 0) covered.insert(code);
    }
    for (const ExitCodeEntry& entry : kExitCodes) {
        EXPECT_TRUE(listed.insert(entry.code).second) << entry.code << " listed twice";
        // Success, reboot and "could not start its window" mean something else to everyone.
        for (int taken : {0, 1, 1641, 1707, 3010}) EXPECT_NE(entry.code, taken);
    }
    EXPECT_EQ(listed, covered);
}

}  // namespace

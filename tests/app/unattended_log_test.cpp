// What a run without a person writes for support: times in UTC, every step once, the failure as
// the window copies it.
#include <gtest/gtest.h>

#include "app/failure_report.h"
#include "app/unattended_log.h"
#include "common/scoped_override.h"
#include "tests/support/scratch.h"

namespace {

TEST(UtcTimestamp, CivilDatesAcrossLeapDaysAndCenturies) {
    const std::pair<int64_t, const char*> rows[] = {
        {0, "1970-01-01T00:00:00Z"},          {951782400, "2000-02-29T00:00:00Z"},
        {951955199, "2000-03-01T23:59:59Z"},  {1796984405, "2026-12-11T10:20:05Z"},
        {4107542400, "2100-03-01T00:00:00Z"},  // 2100 has no 29 February
        {-1, "1969-12-31T23:59:59Z"},
    };
    for (const auto& [seconds, text] : rows) EXPECT_EQ(UtcTimestamp(seconds), text) << seconds;
}

TEST(UnattendedLog, EachStepOnceThenTheEndWithTheFailureBlockLineByLine) {
    ScratchDir scratch;
    ScopedOverride<UtcClockFn> clock(g_utcNow, [] { return int64_t{1796984405}; });
    ScopedOverride<SystemErrorTextFn> text(g_systemErrorText,
                                           [](uint32_t) { return std::u16string(u"Gone."); });
    UnattendedLog log;
    uint32_t error = 0;
    ASSERT_TRUE(OpenUnattendedLog(log, (scratch / "run.log").u16string(), error)) << error;
    WriteLogLine(log, u"options: --silent --install-dir \"D:\\V k\"");

    InstallProgress block;
    block.stage = InstallStage::Installing;
    for (const char16_t* step : {u"Connecting", u"Downloading", u"Downloading", u"Installing"}) {
        block.statusText = step;
        block.bytesDone += 65536;
        LogProgress(log, block);
    }
    InstallProgress failed;
    failed.stage = InstallStage::Error;
    failed.errorText = u"Download failed. Please try again.";
    failed.failure = {"download", "disk_or_hash_error", 5, FailureNumber::Windows};
    LogProgress(log, failed);
    LogProgress(log, failed);  // published twice, written once

    const std::string t = "2026-12-11T10:20:05Z ";
    const std::string rule = t + "---------------------------\r\n";
    EXPECT_EQ(ReadFileBytes(scratch / "run.log"),
              t + "options: --silent --install-dir \"D:\\V k\"\r\n" +  //
                  t + "step: Connecting\r\n" + t + "step: Downloading\r\n" + t +
                  "step: Installing\r\n" + t + "failed:\r\n" + rule + t +
                  "Varnok Client Setup\r\n" + rule + t + "Download failed. Please try again.\r\n" +
                  rule + t + "Step: download\r\n" + t + "Code: disk_or_hash_error\r\n" + t +
                  "Windows error: 5 (Gone.)\r\n" + rule);
}

TEST(DescribeArguments, QuotesWhatHoldsASpaceOrNothing) {
    EXPECT_EQ(DescribeArguments(
                  {u"C:\\s.exe", u"--silent", u"--install-dir", u"D:\\My Games", u"--log", u""}),
              u"--silent --install-dir \"D:\\My Games\" --log \"\"");
    EXPECT_EQ(DescribeArguments({u"C:\\s.exe"}), u"");
}

}  // namespace

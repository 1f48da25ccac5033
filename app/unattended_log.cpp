#include "app/unattended_log.h"

#include <chrono>
#include <cstdio>

#include "app/failure_report.h"
#include "common/text.h"

namespace {

int64_t SystemUtcNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void WriteUtf8(UnattendedLog& log, const std::string& bytes) {
    uint32_t ignored = 0;
    WriteToFile(log.file, bytes.data(), bytes.size(), ignored);
}

}  // namespace

UtcClockFn g_utcNow = &SystemUtcNow;

bool OpenUnattendedLog(UnattendedLog& log, std::u16string_view path, uint32_t& error) {
    log.file = CreateFileForWriting(path, error);
    return static_cast<bool>(log.file);
}

std::string UtcTimestamp(int64_t seconds) {
    // Days to a civil date (Howard Hinnant's algorithm): no gmtime, whose Windows and POSIX
    // forms differ and which keeps a static buffer.
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];  // room for any int64_t year, so the compiler sees no cut
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

void WriteLogLine(UnattendedLog& log, std::u16string_view text) {
    if (!log.file) return;
    const std::string stamp = UtcTimestamp(g_utcNow()) + " ";
    std::string lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        std::u16string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        if (!line.empty() || end < text.size()) lines += stamp + Utf16ToUtf8(line) + "\r\n";
        start = end + 1;
    }
    WriteUtf8(log, lines);
}

void LogProgress(UnattendedLog& log, const InstallProgress& block) {
    if (!log.file) return;
    if (block.stage == InstallStage::Installing && block.statusText != log.lastStep) {
        log.lastStep = block.statusText;
        WriteLogLine(log, u"step: " + block.statusText);
    }
    if (block.stage == log.lastStage) return;
    log.lastStage = block.stage;
    if (block.stage == InstallStage::Done) {
        WriteLogLine(log, u"installed: Varnok Client " + Utf8ToUtf16(block.version) + u" as " +
                              block.clientExePath);
    } else if (block.stage == InstallStage::Error) {
        const std::u16string systemText = block.failure.source == FailureNumber::Windows
                                              ? g_systemErrorText(block.failure.number)
                                              : std::u16string();
        WriteLogLine(
            log, u"failed:\r\n" + FailureReportText(block.errorText, block.failure, systemText));
    }
}

std::u16string DescribeArguments(const std::vector<std::u16string>& args) {
    std::u16string line;
    for (size_t i = 1; i < args.size(); ++i) {
        if (i > 1) line += u' ';
        const std::u16string& arg = args[i];
        if (arg.empty() || arg.find_first_of(u" \t") != std::u16string::npos)
            line += u'"' + arg + u'"';
        else
            line += arg;
    }
    return line;
}

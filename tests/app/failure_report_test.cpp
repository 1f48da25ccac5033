// The text Ctrl+C copies from the Error screen.
#include "app/failure_report.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace {

std::string Report(std::u16string_view message, const Failure& failure,
                   std::u16string_view systemText = u"") {
    return Utf16ToUtf8(FailureReportText(message, failure, systemText));
}

constexpr char kRule[] = "---------------------------\r\n";

std::string Framed(std::string_view message, std::string_view details) {
    std::string text = kRule;
    text += "Varnok Client Setup\r\n";
    text += kRule;
    text += message;
    text += "\r\n";
    text += kRule;
    text += details;
    text += kRule;
    return text;
}

}  // namespace

TEST(FailureReportText, SaysTheMessageStepCodeAndTheNumberWithItsSource) {
    struct Row {
        Failure failure;
        std::u16string systemText;
        std::string details;
    } rows[] = {
        {{"download", "disk_or_hash_error", 112, FailureNumber::Windows},
         u"There is not enough space on the disk.",
         "Step: download\r\nCode: disk_or_hash_error\r\n"
         "Windows error: 112 (There is not enough space on the disk.)\r\n"},
        // A number the system has no words for still goes out, bare.
        {{"manifest_fetch", "network_unreachable", 12029, FailureNumber::Windows},
         u"",
         "Step: manifest_fetch\r\nCode: network_unreachable\r\nWindows error: 12029\r\n"},
        // A status is not a Windows error, and gets no system text even when one is offered.
        {{"download", "http_404", 404, FailureNumber::Http},
         u"ignored",
         "Step: download\r\nCode: http_404\r\nHTTP status: 404\r\n"},
        {{"manifest_check", "signature_invalid", 0, FailureNumber::None},
         u"",
         "Step: manifest_check\r\nCode: signature_invalid\r\n"},
        // A code with no step (a refusal before any step began) keeps its code.
        {{"", "out_of_memory", 0, FailureNumber::None}, u"", "Code: out_of_memory\r\n"},
        // Nothing known behind the message: the message alone, still framed.
        {{}, u"", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Report(u"Download failed. Please try again.", row.failure, row.systemText),
                  Framed("Download failed. Please try again.", row.details))
            << row.failure.code;
    }
}

TEST(FailureReportText, KeepsAMessageWithTheUsersFolderExactly) {
    const std::u16string message = u"Failed to create install folder: C:\\Spiele\\Värnok 客户端";
    const std::string text =
        Report(message, {"folder_create", "folder_not_created", 5, FailureNumber::Windows});
    EXPECT_NE(text.find(Utf16ToUtf8(message) + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Windows error: 5\r\n"), std::string::npos) << text;
}

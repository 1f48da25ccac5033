#include "app/failure_report.h"

#include "common/text.h"

namespace {

constexpr char16_t kRule[] = u"---------------------------\r\n";

std::u16string Line(std::u16string_view label, std::string_view value) {
    std::u16string line(label);
    line += Utf8ToUtf16(value);
    line += u"\r\n";
    return line;
}

}  // namespace

std::u16string FailureReportText(std::u16string_view message, const Failure& failure,
                                 std::u16string_view systemText) {
    std::u16string text = kRule;
    text += kFailureReportCaption;
    text += u"\r\n";
    text += kRule;
    text += message;
    text += u"\r\n";
    text += kRule;
    if (!failure.step.empty()) text += Line(u"Step: ", failure.step);
    if (!failure.code.empty()) text += Line(u"Code: ", failure.code);
    switch (failure.source) {
        case FailureNumber::Windows:
            text += Line(u"Windows error: ", std::to_string(failure.number));
            if (!systemText.empty()) {
                text.insert(text.size() - 2, u" (");
                text.insert(text.size() - 2, systemText);
                text.insert(text.size() - 2, u")");
            }
            break;
        case FailureNumber::Http:
            text += Line(u"HTTP status: ", std::to_string(failure.number));
            break;
        case FailureNumber::None:
            break;
    }
    text += kRule;
    return text;
}

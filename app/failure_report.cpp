#include "app/failure_report.h"

#include "common/text.h"

namespace {

constexpr char16_t kRule[] = u"---------------------------\r\n";

std::u16string Line(std::u16string_view label, std::u16string_view value) {
    std::u16string line(label);
    line += value;
    line += u"\r\n";
    return line;
}

std::u16string Number(uint32_t number) {
    return Utf8ToUtf16(std::to_string(number));
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
    if (!failure.step.empty()) text += Line(u"Step: ", Utf8ToUtf16(failure.step));
    if (!failure.code.empty()) text += Line(u"Code: ", Utf8ToUtf16(failure.code));
    switch (failure.source) {
        case FailureNumber::Windows: {
            std::u16string value = Number(failure.number);
            if (!systemText.empty()) {
                value += u" (";
                value += systemText;
                value += u")";
            }
            text += Line(u"Windows error: ", value);
            break;
        }
        case FailureNumber::Http:
            text += Line(u"HTTP status: ", Number(failure.number));
            break;
        case FailureNumber::None:
            break;
    }
    text += kRule;
    return text;
}

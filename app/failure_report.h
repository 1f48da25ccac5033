// What Ctrl+C copies from the Error screen: the message the user sees and what lay behind it,
// laid out like the text Windows copies from a message box, so it pastes cleanly into a mail.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/failure.h"

inline constexpr char16_t kFailureReportCaption[] = u"Varnok Client Setup";

// `systemText` is the system's own wording for the number ("" when it has none).
std::u16string FailureReportText(std::u16string_view message, const Failure& failure,
                                 std::u16string_view systemText);

// The system's own text for a Windows error number, WinHTTP's included, without the trailing
// line break; "" when there is none. Replaceable so the report can be tested on every build.
using SystemErrorTextFn = std::u16string (*)(uint32_t number);
extern SystemErrorTextFn g_systemErrorText;

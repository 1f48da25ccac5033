#include "app/failure_report.h"

namespace {

// Only Windows numbers are ever reported, and the host build has no text for them.
std::u16string NoSystemText(uint32_t) {
    return {};
}

}  // namespace

SystemErrorTextFn g_systemErrorText = &NoSystemText;

// Why something failed, in the shape Windows tools keep it: one snake_case code and the number
// the system gave for it, so that support can tell a proxy from a full disk.
#pragma once

#include <cstdint>
#include <string>

// Where `number` comes from.
enum class FailureNumber : int32_t {
    None = 0,     // the check itself decided; no call failed
    Windows = 1,  // GetLastError right after the failing call (WinHTTP's 12xxx included)
    Http = 2,     // the response's status
};

struct Failure {
    std::string step;  // the install step that failed ("manifest_fetch", "download", ...)
    std::string code;
    uint32_t number = 0;
    FailureNumber source = FailureNumber::None;
};

// Sets the code and the number together; the step is the caller's.
inline void SetFailure(Failure& failure, std::string code, uint32_t number = 0,
                       FailureNumber source = FailureNumber::Windows) {
    failure.code = std::move(code);
    failure.number = number;
    failure.source = number == 0 ? FailureNumber::None : source;
}

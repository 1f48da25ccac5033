// The one loop that reads a response body, shared by the fetch into memory and the streamed
// download: batches of what the server has sent, each read in chunks no larger than the
// caller's buffer. The destination decides per batch (before any of it is read) and per chunk
// (after it is read, before it is kept) whether the transfer goes on. Windows-only.
#pragma once

#include <algorithm>
#include <cstdint>

#include "common/failure.h"
#include "net/winhttp_request_win.h"

// The overall bound of a fetch: before each wait for the server the receive time-outs are cut to
// what is left of it, so no wait can outlast it.
struct FetchDeadline {
    ULONGLONG start = GetTickCount64();
    int overallMs = 0;  // 0: no bound
    int receiveMs = 0;
    bool cut = false;  // the last wait was cut short by the bound

    // False when nothing is left.
    bool LimitNextWait(HINTERNET request) {
        if (overallMs <= 0) return true;
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= static_cast<ULONGLONG>(overallMs)) return false;
        const auto left = static_cast<DWORD>(static_cast<ULONGLONG>(overallMs) - spent);
        cut = left < static_cast<DWORD>(receiveMs);
        DWORD wait = std::min(left, static_cast<DWORD>(receiveMs));
        syslib::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &wait, sizeof(wait));
        syslib::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait,
                                 sizeof(wait));
        return true;
    }
};

// True at the end of the body. A failed query for more data counts as that end, like an empty
// one: a body that stopped early is for the destination's own checks (size, digest, signature)
// to catch. Only a wait that the deadline cut short fails here ("fetch_timed_out"); a failed read
// is "read_failed"; the destination's refusals carry its own codes. `Destination` has
//   bool Batch(uint64_t available, Failure&)   and   bool Chunk(const char*, size_t, Failure&);
// Batch hears of every wait, however it ended (0 bytes at the end of the body or after a failed
// wait), before any of what arrived is read.
template <typename Destination>
bool ReadResponseBody(HINTERNET request, char* buffer, DWORD bufferBytes, FetchDeadline* deadline,
                      Destination& destination, Failure& failure) {
    for (;;) {
        if (deadline && !deadline->LimitNextWait(request)) {
            SetFailure(failure, "fetch_timed_out", ERROR_WINHTTP_TIMEOUT);
            return false;
        }
        DWORD available = 0;
        const bool answered = syslib::WinHttpQueryDataAvailable(request, &available) != FALSE;
        const DWORD error = answered ? 0 : GetLastError();
        if (!answered) available = 0;
        if (!destination.Batch(available, failure)) return false;
        if (!answered) {
            if (!deadline || !deadline->cut) return true;
            SetFailure(failure, "fetch_timed_out", error);
            return false;
        }
        if (available == 0) return true;
        while (available != 0) {
            DWORD got = 0;
            if (!g_winHttpReadData(request, buffer, std::min(available, bufferBytes), &got)) {
                SetFailure(failure, "read_failed", GetLastError());
                return false;
            }
            if (got == 0) break;
            if (!destination.Chunk(buffer, got, failure)) return false;
            available -= std::min(got, available);
        }
    }
}

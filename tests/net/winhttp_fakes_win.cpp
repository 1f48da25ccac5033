#include "tests/net/winhttp_fakes_win.h"

HINTERNET WINAPI NoSession(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HINTERNET WINAPI NoConnection(HINTERNET, LPCWSTR, INTERNET_PORT, DWORD) {
    SetLastError(ERROR_WINHTTP_INVALID_URL);
    return nullptr;
}

HINTERNET WINAPI NoRequest(HINTERNET, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

BOOL WINAPI NoStatus(HINTERNET, DWORD, LPCWSTR, LPVOID, LPDWORD, LPDWORD) {
    SetLastError(ERROR_WINHTTP_HEADER_NOT_FOUND);
    return FALSE;
}

int g_readsBeforeFailure = 0;

BOOL WINAPI FailingRead(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
    if (g_readsBeforeFailure-- > 0) return WinHttpReadData(request, buffer, size, read);
    SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
    return FALSE;
}

// Stand-ins for single WinHTTP calls, swapped in through the request's function pointers so a
// test can make one step fail the way a real machine would. Windows tests only.
#pragma once

#include <windows.h>
#include <winhttp.h>

HINTERNET WINAPI NoSession(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
HINTERNET WINAPI NoConnection(HINTERNET, LPCWSTR, INTERNET_PORT, DWORD);
HINTERNET WINAPI NoRequest(HINTERNET, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*, DWORD);
BOOL WINAPI NoStatus(HINTERNET, DWORD, LPCWSTR, LPVOID, LPDWORD, LPDWORD);

// Reads normally this many times, then fails as a dropped connection would.
extern int g_readsBeforeFailure;
BOOL WINAPI FailingRead(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read);

// The installer runs from folders anyone can drop files into (a browser's downloads), and Windows
// looks for a library in the executable's own folder before the system folder unless the library
// is one of its KnownDLLs. So the executable imports only KnownDLLs, and the functions it needs
// from the four other system libraries it uses (winhttp, bcrypt, dwmapi, oleacc) are taken here,
// at their first call, from the system folder only. Each library is loaded once and released
// when the process exits. Windows-only header.
//
// The functions below have the signatures of the system functions of the same names. One that
// cannot be had (its library missing from the system folder, or the function missing from it)
// fails the way the system function reports a failure, with the loader's error: WinHTTP returns
// null or FALSE with GetLastError set, CNG an error NTSTATUS, DWM and oleacc an error HRESULT.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <dwmapi.h>
#include <oleacc.h>
#include <winhttp.h>

// The process's library search narrowed to the system folder, for every later load by name,
// ours or a system component's: the first thing the process does, before COM, in every mode.
bool RestrictLibrarySearchToSystemFolder();

namespace syslib {

// winhttp.dll
HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                      DWORD flags);
HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR server, INTERNET_PORT port, DWORD reserved);
HINTERNET WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR objectName,
                             LPCWSTR version, LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags);
BOOL WinHttpCloseHandle(HINTERNET handle);
BOOL WinHttpCrackUrl(LPCWSTR url, DWORD length, DWORD flags, LPURL_COMPONENTS components);
BOOL WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveMs, int connectMs, int sendMs, int receiveMs);
BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                        DWORD optionalLength, DWORD totalLength, DWORD_PTR context);
BOOL WinHttpReceiveResponse(HINTERNET request, LPVOID reserved);
BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR name, LPVOID buffer,
                         LPDWORD bufferLength, LPDWORD index);
BOOL WinHttpQueryDataAvailable(HINTERNET request, LPDWORD available);
BOOL WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read);

// bcrypt.dll
NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id,
                                     LPCWSTR implementation, ULONG flags);
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG length,
                           ULONG* written, ULONG flags);
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object,
                          ULONG objectLength, PUCHAR secret, ULONG secretLength, ULONG flags);
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG length, ULONG flags);
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG length, ULONG flags);
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                             LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG length,
                             ULONG flags);
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key);
NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR hash,
                               ULONG hashLength, PUCHAR signature, ULONG signatureLength,
                               ULONG flags);

// dwmapi.dll
HRESULT DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size);
HRESULT DwmExtendFrameIntoClientArea(HWND window, const MARGINS* margins);

// oleacc.dll
HRESULT CreateStdAccessibleObject(HWND window, LONG objectId, REFIID iid, void** object);
LRESULT LresultFromObject(REFIID iid, WPARAM wParam, LPUNKNOWN object);

}  // namespace syslib

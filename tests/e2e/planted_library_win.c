/* A library an attacker drops beside the installer: once loaded into any process it writes
 * "<its own path>.ran", so a test sees from outside that it ran. Built twice: with
 * PLANTED_EXPORTS it stands in for dwmapi, bcrypt, winhttp and oleacc and exports (as do-nothing
 * stubs) every function the installer ever imported from them, so that a loader resolving static
 * imports against it succeeds; without, it has no exports at all, like a library that a system
 * component loads by name and never calls into before its DllMain has run. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    lstrcatW(path, L".ran");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}

#ifdef PLANTED_EXPORTS
#define STUB(name) \
    __declspec(dllexport) INT_PTR name(void) { return 0; }
STUB(DwmExtendFrameIntoClientArea)
STUB(DwmSetWindowAttribute)
STUB(BCryptCloseAlgorithmProvider)
STUB(BCryptCreateHash)
STUB(BCryptDestroyHash)
STUB(BCryptDestroyKey)
STUB(BCryptFinishHash)
STUB(BCryptGetProperty)
STUB(BCryptHashData)
STUB(BCryptImportKeyPair)
STUB(BCryptOpenAlgorithmProvider)
STUB(BCryptVerifySignature)
STUB(WinHttpCloseHandle)
STUB(WinHttpConnect)
STUB(WinHttpCrackUrl)
STUB(WinHttpOpen)
STUB(WinHttpOpenRequest)
STUB(WinHttpQueryDataAvailable)
STUB(WinHttpQueryHeaders)
STUB(WinHttpReadData)
STUB(WinHttpReceiveResponse)
STUB(WinHttpSendRequest)
STUB(WinHttpSetOption)
STUB(WinHttpSetTimeouts)
STUB(CreateStdAccessibleObject)
STUB(LresultFromObject)
#endif

#include "common/system_libraries_win.h"

#include <atomic>

bool RestrictLibrarySearchToSystemFolder() {
    return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

namespace {

// The four libraries, each loaded at the first call into it and released when the process exits.
// Constant-initialised (it exists before any code runs) and lock-free, so the window's thread and
// the worker may ask at the same moment; no lazily made static, whose guard would bring
// libstdc++'s thread-safe initialisation along.
enum SystemLibrary { kWinHttp, kBcrypt, kDwmapi, kOleacc, kLibraryCount };
constexpr const wchar_t* kLibraryNames[kLibraryCount] = {L"winhttp.dll", L"bcrypt.dll",
                                                         L"dwmapi.dll", L"oleacc.dll"};

struct LoadedLibraries {
    std::atomic<HMODULE> modules[kLibraryCount] = {};
    ~LoadedLibraries() {
        for (auto& module : modules) {
            if (const HMODULE loaded = module.exchange(nullptr)) FreeLibrary(loaded);
        }
    }
};
LoadedLibraries g_libraries;

// Null with the loader's error in GetLastError when the library cannot be had; the next call
// tries again.
HMODULE Loaded(SystemLibrary which) {
    std::atomic<HMODULE>& slot = g_libraries.modules[which];
    if (const HMODULE known = slot.load(std::memory_order_acquire)) return known;
    const HMODULE loaded =
        LoadLibraryExW(kLibraryNames[which], nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!loaded) return nullptr;
    HMODULE first = nullptr;
    if (slot.compare_exchange_strong(first, loaded, std::memory_order_acq_rel)) return loaded;
    FreeLibrary(loaded);  // another thread was first: the same library, counted once
    return first;
}

// The function's address, found once and kept in the caller's slot; null with GetLastError set
// (the library's load error, or the lookup's) when it cannot be had.
FARPROC Resolve(std::atomic<FARPROC>& slot, SystemLibrary library, const char* name) {
    if (const FARPROC known = slot.load(std::memory_order_acquire)) return known;
    const HMODULE module = Loaded(library);
    if (!module) return nullptr;
    const FARPROC found = GetProcAddress(module, name);
    if (found) slot.store(found, std::memory_order_release);
    return found;
}

// F is the system declaration's type (decltype of its address, which does not refer to the
// import), so every call below is checked against the real signature.
template <typename F>
F As(FARPROC address) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(address));
}

// What CNG and COM report for a function that cannot be had: the loader's error in their form.
NTSTATUS StatusOfLastError() {
    // The NTSTATUS that carries a Windows error (facility 7, severity error).
    return static_cast<NTSTATUS>(0xC0070000u | (GetLastError() & 0xFFFFu));
}
HRESULT ResultOfLastError() {
    return HRESULT_FROM_WIN32(GetLastError());
}

}  // namespace

namespace syslib {

HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                      DWORD flags) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::WinHttpOpen)>(Resolve(slot, kWinHttp, "WinHttpOpen"));
    return f ? f(agent, accessType, proxy, proxyBypass, flags) : nullptr;
}

HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR server, INTERNET_PORT port, DWORD reserved) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::WinHttpConnect)>(Resolve(slot, kWinHttp, "WinHttpConnect"));
    return f ? f(session, server, port, reserved) : nullptr;
}

HINTERNET WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR objectName,
                             LPCWSTR version, LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::WinHttpOpenRequest)>(Resolve(slot, kWinHttp, "WinHttpOpenRequest"));
    return f ? f(connection, verb, objectName, version, referrer, acceptTypes, flags) : nullptr;
}

BOOL WinHttpCloseHandle(HINTERNET handle) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::WinHttpCloseHandle)>(Resolve(slot, kWinHttp, "WinHttpCloseHandle"));
    return f ? f(handle) : FALSE;
}

BOOL WinHttpCrackUrl(LPCWSTR url, DWORD length, DWORD flags, LPURL_COMPONENTS components) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::WinHttpCrackUrl)>(Resolve(slot, kWinHttp, "WinHttpCrackUrl"));
    return f ? f(url, length, flags, components) : FALSE;
}

BOOL WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::WinHttpSetOption)>(Resolve(slot, kWinHttp, "WinHttpSetOption"));
    return f ? f(handle, option, buffer, length) : FALSE;
}

BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveMs, int connectMs, int sendMs, int receiveMs) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::WinHttpSetTimeouts)>(Resolve(slot, kWinHttp, "WinHttpSetTimeouts"));
    return f ? f(handle, resolveMs, connectMs, sendMs, receiveMs) : FALSE;
}

BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                        DWORD optionalLength, DWORD totalLength, DWORD_PTR context) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::WinHttpSendRequest)>(Resolve(slot, kWinHttp, "WinHttpSendRequest"));
    return f ? f(request, headers, headersLength, optional, optionalLength, totalLength, context)
             : FALSE;
}

BOOL WinHttpReceiveResponse(HINTERNET request, LPVOID reserved) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::WinHttpReceiveResponse)>(Resolve(slot, kWinHttp, "WinHttpReceiveResponse"));
    return f ? f(request, reserved) : FALSE;
}

BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR name, LPVOID buffer,
                         LPDWORD bufferLength, LPDWORD index) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::WinHttpQueryHeaders)>(Resolve(slot, kWinHttp, "WinHttpQueryHeaders"));
    return f ? f(request, infoLevel, name, buffer, bufferLength, index) : FALSE;
}

BOOL WinHttpQueryDataAvailable(HINTERNET request, LPDWORD available) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::WinHttpQueryDataAvailable)>(
        Resolve(slot, kWinHttp, "WinHttpQueryDataAvailable"));
    return f ? f(request, available) : FALSE;
}

BOOL WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::WinHttpReadData)>(Resolve(slot, kWinHttp, "WinHttpReadData"));
    return f ? f(request, buffer, toRead, read) : FALSE;
}

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id,
                                     LPCWSTR implementation, ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptOpenAlgorithmProvider)>(
        Resolve(slot, kBcrypt, "BCryptOpenAlgorithmProvider"));
    return f ? f(algorithm, id, implementation, flags) : StatusOfLastError();
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptCloseAlgorithmProvider)>(
        Resolve(slot, kBcrypt, "BCryptCloseAlgorithmProvider"));
    return f ? f(algorithm, flags) : StatusOfLastError();
}

NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG length,
                           ULONG* written, ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptGetProperty)>(Resolve(slot, kBcrypt, "BCryptGetProperty"));
    return f ? f(object, property, output, length, written, flags) : StatusOfLastError();
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object,
                          ULONG objectLength, PUCHAR secret, ULONG secretLength, ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptCreateHash)>(Resolve(slot, kBcrypt, "BCryptCreateHash"));
    return f ? f(algorithm, hash, object, objectLength, secret, secretLength, flags)
             : StatusOfLastError();
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG length, ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptHashData)>(Resolve(slot, kBcrypt, "BCryptHashData"));
    return f ? f(hash, input, length, flags) : StatusOfLastError();
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG length, ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptFinishHash)>(Resolve(slot, kBcrypt, "BCryptFinishHash"));
    return f ? f(hash, output, length, flags) : StatusOfLastError();
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptDestroyHash)>(Resolve(slot, kBcrypt, "BCryptDestroyHash"));
    return f ? f(hash) : StatusOfLastError();
}

NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                             LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG length,
                             ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::BCryptImportKeyPair)>(Resolve(slot, kBcrypt, "BCryptImportKeyPair"));
    return f ? f(algorithm, importKey, blobType, key, input, length, flags) : StatusOfLastError();
}

NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::BCryptDestroyKey)>(Resolve(slot, kBcrypt, "BCryptDestroyKey"));
    return f ? f(key) : StatusOfLastError();
}

NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR hash,
                               ULONG hashLength, PUCHAR signature, ULONG signatureLength,
                               ULONG flags) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::BCryptVerifySignature)>(Resolve(slot, kBcrypt, "BCryptVerifySignature"));
    return f ? f(key, paddingInfo, hash, hashLength, signature, signatureLength, flags)
             : StatusOfLastError();
}

HRESULT DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size) {
    static std::atomic<FARPROC> slot;
    const auto f =
        As<decltype(&::DwmSetWindowAttribute)>(Resolve(slot, kDwmapi, "DwmSetWindowAttribute"));
    return f ? f(window, attribute, value, size) : ResultOfLastError();
}

HRESULT DwmExtendFrameIntoClientArea(HWND window, const MARGINS* margins) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::DwmExtendFrameIntoClientArea)>(
        Resolve(slot, kDwmapi, "DwmExtendFrameIntoClientArea"));
    return f ? f(window, margins) : ResultOfLastError();
}

HRESULT CreateStdAccessibleObject(HWND window, LONG objectId, REFIID iid, void** object) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::CreateStdAccessibleObject)>(
        Resolve(slot, kOleacc, "CreateStdAccessibleObject"));
    if (f) return f(window, objectId, iid, object);
    if (object) *object = nullptr;
    return ResultOfLastError();
}

LRESULT LresultFromObject(REFIID iid, WPARAM wParam, LPUNKNOWN object) {
    static std::atomic<FARPROC> slot;
    const auto f = As<decltype(&::LresultFromObject)>(Resolve(slot, kOleacc, "LresultFromObject"));
    return f ? f(iid, wParam, object) : static_cast<LRESULT>(ResultOfLastError());
}

}  // namespace syslib

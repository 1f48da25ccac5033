// The handle owners of the Windows build, one line each. Windows-only header.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "common/system_libraries_win.h"
#include "common/unique_handle.h"

namespace handle_detail {
inline HANDLE InvalidFile() {
    return INVALID_HANDLE_VALUE;
}
inline void CloseAlgorithm(BCRYPT_ALG_HANDLE h) {
    syslib::BCryptCloseAlgorithmProvider(h, 0);
}
template <typename I>
void ReleaseCom(I* p) {
    p->Release();
}
inline void FreeLocal(void* p) {
    LocalFree(p);
}
inline void LeaveComApartment(bool) {
    CoUninitialize();
}
inline void FreeGlobal(HGLOBAL p) {
    GlobalFree(p);
}
inline void CloseClipboardOwner(bool) {
    CloseClipboard();
}
inline void ReleaseScreenDc(HDC dc) {
    ReleaseDC(nullptr, dc);
}
inline void DeleteGdiObject(HGDIOBJ object) {
    DeleteObject(object);
}
inline void ReleaseHeldMutex(HANDLE mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
}  // namespace handle_detail

using UniqueHandleKernel = UniqueHandle<HANDLE, &CloseHandle>;
using UniqueFile = UniqueHandle<HANDLE, &CloseHandle, &handle_detail::InvalidFile>;
using UniqueFind = UniqueHandle<HANDLE, &FindClose, &handle_detail::InvalidFile>;
using UniqueRegKey = UniqueHandle<HKEY, &RegCloseKey>;
using UniqueInternet = UniqueHandle<HINTERNET, &syslib::WinHttpCloseHandle>;
using UniqueAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, &handle_detail::CloseAlgorithm>;
using UniqueHash = UniqueHandle<BCRYPT_HASH_HANDLE, &syslib::BCryptDestroyHash>;
using UniqueKey = UniqueHandle<BCRYPT_KEY_HANDLE, &syslib::BCryptDestroyKey>;
template <typename I>
using ComPtr = UniqueHandle<I*, &handle_detail::ReleaseCom<I>>;
using UniqueCoTaskString = UniqueHandle<wchar_t*, &CoTaskMemFree>;
using UniqueLocalMemory = UniqueHandle<void*, &handle_detail::FreeLocal>;
using UniqueArgv = UniqueHandle<wchar_t**, &handle_detail::FreeLocal>;
using UniqueGlobalMemory = UniqueHandle<HGLOBAL, &handle_detail::FreeGlobal>;
// The whole screen's DC (GetDC(nullptr)), released again by the owner.
using UniqueScreenDc = UniqueHandle<HDC, &handle_detail::ReleaseScreenDc>;
using UniqueMemoryDc = UniqueHandle<HDC, &DeleteDC>;
using UniqueGdiObject = UniqueHandle<HGDIOBJ, &handle_detail::DeleteGdiObject>;
// A mutex the calling thread owns, released and closed when the owner ends. A mutex belongs to a
// thread: the owner must end on the thread that took it.
using UniqueHeldMutex = UniqueHandle<HANDLE, &handle_detail::ReleaseHeldMutex>;

// The clipboard, opened for `window` and closed again when the owner ends.
using UniqueClipboard = UniqueHandle<bool, &handle_detail::CloseClipboardOwner>;
inline UniqueClipboard OpenClipboardFor(HWND window) {
    return UniqueClipboard(OpenClipboard(window) != FALSE);
}

// COM on the calling thread as a single-threaded apartment, left again when the owner ends. Only a
// successful initialisation (S_FALSE included) is balanced by CoUninitialize.
using UniqueComApartment = UniqueHandle<bool, &handle_detail::LeaveComApartment>;
inline UniqueComApartment EnterComApartment() {
    return UniqueComApartment(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
}

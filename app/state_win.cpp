#include "app/state.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

namespace {

bool SystemWindowAlive(WindowHandle window) {
    return IsWindow(window) != FALSE;
}
void SystemPostMessage(WindowHandle window, uint32_t message) {
    PostMessageW(window, message, 0, 0);
}

}  // namespace

WindowAliveFn g_windowAlive = &SystemWindowAlive;
PostMessageFn g_postWindowMessage = &SystemPostMessage;

void LogoDeleter::operator()(void* bitmap) const {
    Gdiplus::DllExports::GdipDisposeImage(static_cast<Gdiplus::GpImage*>(bitmap));
}

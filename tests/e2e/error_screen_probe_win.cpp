// Paints the Error screen with a given message at scale 1, the way the window shows it at 96 DPI,
// and saves it as PNG: the reference an end-to-end test compares the real window's message with.
// Usage: varnok_error_screen_probe <png path> <message>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "app/state.h"
#include "common/gdiplus_handles_win.h"
#include "common/text_win.h"
#include "ui/assets_win.h"
#include "ui/paint_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 64;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
    bool saved = false;
    {
        InstallerState state;
        state.progress.stage = InstallStage::Error;
        state.progress.errorText = FromWide(argv[2]);
        GdipBitmap bitmap;
        if (Gdiplus::DllExports::GdipCreateBitmapFromScan0(440, 336, 0, PixelFormat32bppPARGB,
                                                           nullptr, bitmap.put()) == Gdiplus::Ok) {
            {
                GdipGraphics graphics;
                if (Gdiplus::DllExports::GdipGetImageGraphicsContext(bitmap.get(),
                                                                     graphics.put()) == Gdiplus::Ok)
                    PaintInstaller(graphics.get(), state, 1.0f);
            }
            saved = SavePng(bitmap.get(), FromWide(argv[1]));
        }
    }
    Gdiplus::GdiplusShutdown(token);
    return saved ? 0 : 2;
}

// How long the window's paint takes: the whole WM_PAINT body (the kept layer and back buffer,
// the changing layer, the copy to the DC) into a memory DC at scale 1 and 2, the repaint of one
// progress tick as the window asks for it, the pieces a paint is made of (fonts and formats, the
// scaled logo), and one preview render-and-save. Run by scripts/bench; prints one
// line of key=value figures per measurement, each the median of RUNS repetitions.
//
//   varnok_bench_paint RUNS PNGPATH
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/state.h"
#include "common/gdiplus_handles_win.h"
#include "common/handles_win.h"
#include "common/text_win.h"
#include "ui/assets.h"
#include "ui/paint_win.h"
#include "ui/primitives_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

double TimeMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    work();  // the first call pays for lazy set-up inside GDI+ and Wine; it is not counted
    for (int i = 0; i < runs; ++i) ms.push_back(TimeMs(work));
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void Report(const char* what, const char* screen, float scale, double ms) {
    std::printf("what=%s screen=%s scale=%g median_ms=%.3f\n", what, screen, scale, ms);
    std::fflush(stdout);
}

// A window that is never shown: PaintWindow only asks it for its client size.
HWND HiddenWindow(int width, int height) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VarnokPaintBench";
    RegisterClassExW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, width, height, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

// What WM_PAINT draws into: a memory DC with a screen-compatible bitmap selected. The DC goes
// first (members end in reverse order), so the bitmap is no longer selected when it is deleted.
struct MemoryTarget {
    UniqueGdiObject bitmap;
    UniqueMemoryDc dc;
};

MemoryTarget MakeMemoryTarget(int width, int height) {
    const UniqueScreenDc screen(GetDC(nullptr));
    MemoryTarget target{UniqueGdiObject(CreateCompatibleBitmap(screen.get(), width, height)),
                        UniqueMemoryDc(CreateCompatibleDC(screen.get()))};
    SelectObject(target.dc.get(), target.bitmap.get());
    return target;
}

void BenchWindowPaint(InstallerState& state, const char* screen, float scale, int runs,
                      bool first = false) {
    const int width = static_cast<int>(440 * scale);
    const int height = static_cast<int>(336 * scale);
    HWND window = HiddenWindow(width, height);
    if (!window) {
        std::printf("what=window-paint screen=%s scale=%g error=no_window\n", screen, scale);
        return;
    }
    const MemoryTarget target = MakeMemoryTarget(width, height);
    HDC memory = target.dc.get();
    state.dpiScale = scale;
    const RECT whole{0, 0, width, height};
    PaintCache cache;
    if (first) {
        // What the window's first paint costs at start-up, once, before anything was warm.
        Report("first-window-paint", screen, scale,
               TimeMs([&] { PaintWindow(state, window, memory, whole, cache); }));
    }
    Report("window-paint", screen, scale,
           MedianMs(runs, [&] { PaintWindow(state, window, memory, whole, cache); }));
    if (state.progress.stage == InstallStage::Installing) {
        // One timer tick while downloading: the bar moves on and only its area is repainted.
        const RECT progress = ProgressArea(scale);
        Report("tick-repaint", screen, scale, MedianMs(runs, [&] {
                   state.progress.bytesDone = (state.progress.bytesDone + 4096) % 3000000;
                   state.animPhase += 0.025f;
                   PaintWindow(state, window, memory, progress, cache);
               }));
    }
    Report("painter-only", screen, scale, MedianMs(runs, [&] {
               GdipBitmap bitmap;
               GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr,
                                         bitmap.put());
               GdipGraphics graphics;
               GdipGetImageGraphicsContext(bitmap.get(), graphics.put());
               PaintInstaller(graphics.get(), state, scale);
           }));
    // The floor of this way of painting: the same back buffer and copy with one flat fill.
    Report("bare-frame", screen, scale, MedianMs(runs, [&] {
               GdipBitmap bitmap;
               GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr,
                                         bitmap.put());
               {
                   GdipGraphics graphics;
                   GdipGetImageGraphicsContext(bitmap.get(), graphics.put());
                   GdipSolidBrush brush;
                   GdipCreateSolidFill(colorField, brush.put());
                   GdipFillRectangleI(graphics.get(), brush.get(), 0, 0, width, height);
               }
               GdipGraphics onDc;
               GdipCreateFromHDC(memory, onDc.put());
               GdipDrawImageI(onDc.get(), bitmap.get(), 0, 0);
           }));
    DestroyWindow(window);
}

// The pieces every paint makes again, timed alone on a graphics object set up like the painter's.
void BenchPieces(InstallerState& state, float scale, int runs) {
    const int width = static_cast<int>(440 * scale);
    const int height = static_cast<int>(336 * scale);
    GdipBitmap bitmap;
    GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, bitmap.put());
    GdipGraphics g;
    GdipGetImageGraphicsContext(bitmap.get(), g.put());
    GdipSetSmoothingMode(g.get(), SmoothingModeHighQuality);
    GdipSetInterpolationMode(g.get(), InterpolationModeHighQualityBicubic);
    GdipSetTextRenderingHint(g.get(), TextRenderingHintClearTypeGridFit);
    GdipSetPixelOffsetMode(g.get(), PixelOffsetModeHalf);
    GdipScaleWorldTransform(g.get(), scale, scale, MatrixOrderPrepend);
    Report("fonts-and-formats", "-", scale, MedianMs(runs, [] { MakePaintFonts(); }));
    auto* logo = static_cast<GpImage*>(state.logo.get());
    if (logo) {
        Report("logo", "-", scale, MedianMs(runs, [&] {
                   GdipDrawImageRect(g.get(), logo, 102.0f, 74.72f, 236.0f, 32.55f);
               }));
    }
    const PaintFonts fonts = MakePaintFonts();
    Report("one-label", "-", scale, MedianMs(runs, [&] {
               DrawLabel(g.get(), u"Launch after install", fonts.body.get(), fonts.left.get(),
                         colorTextSoft, 62.0f, 226.0f, 314.0f, 24.0f);
           }));
    Report("solid-fill", "-", scale, MedianMs(runs, [&] {
               GdipSolidBrush brush;
               GdipCreateSolidFill(colorField, brush.put());
               GdipFillRectangle(g.get(), brush.get(), 0.0f, 0.0f, 440.0f, 336.0f);
           }));
    Report("back-buffer", "-", scale, MedianMs(runs, [&] {
               GdipBitmap buffer;
               GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr,
                                         buffer.put());
               GdipGraphics graphics;
               GdipGetImageGraphicsContext(buffer.get(), graphics.put());
           }));
    {
        const MemoryTarget target = MakeMemoryTarget(width, height);
        Report("copy-to-dc", "-", scale, MedianMs(runs, [&] {
                   GdipGraphics onDc;
                   GdipCreateFromHDC(target.dc.get(), onDc.put());
                   GdipDrawImageI(onDc.get(), bitmap.get(), 0, 0);
               }));
    }
    Report("body-gradient", "-", scale, MedianMs(runs, [&] {
               const PointF from(0.0f, 36.0f);
               const PointF to(0.0f, 336.0f);
               GdipLinearBrush brush;
               GdipCreateLineBrush(&from, &to, 0xFF1E2E41, 0xFF172230, WrapModeTile, brush.put());
               GdipFillRectangle(g.get(), brush.get(), 0.0f, 0.0f, 440.0f, 336.0f);
           }));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnok_bench_paint RUNS PNGPATH\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    ULONG_PTR token = 0;
    GdiplusStartupInput input;
    if (GdiplusStartup(&token, &input, nullptr) != Ok) return 1;
    {
        InstallerState state;
        state.instance = reinterpret_cast<InstanceHandle>(GetModuleHandleW(nullptr));
        LoadInstallerAssets(state);
        std::printf("logo=%s\n", state.logo ? "loaded" : "missing");
        for (const float scale : {1.0f, 2.0f}) {
            state.progress = InstallProgress{};
            BenchWindowPaint(state, "ready", scale, runs, scale == 1.0f);
            ApplyPreviewPreset(state, u"installing");
            BenchWindowPaint(state, "installing", scale, runs);
            BenchPieces(state, scale, runs);
        }
        state.progress = InstallProgress{};
        const std::u16string png = FromWide(argv[2]);
        Report("preview-render-and-save", "ready", 2.0f,
               MedianMs(runs, [&] { RenderPreview(state, png); }));
        state.logo.reset();
    }
    GdiplusShutdown(token);
    return 0;
}

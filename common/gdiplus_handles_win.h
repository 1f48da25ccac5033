// Owners for the GDI+ flat-API objects, one line each. Windows-only header.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "common/unique_handle.h"

namespace gdip_detail {
template <typename B>
void DeleteBrush(B* b) {
    Gdiplus::DllExports::GdipDeleteBrush(b);
}
template <typename I>
void DisposeImage(I* i) {
    Gdiplus::DllExports::GdipDisposeImage(i);
}
}  // namespace gdip_detail

using GdipGraphics = UniqueHandle<Gdiplus::GpGraphics*, &Gdiplus::DllExports::GdipDeleteGraphics>;
using GdipPath = UniqueHandle<Gdiplus::GpPath*, &Gdiplus::DllExports::GdipDeletePath>;
using GdipPen = UniqueHandle<Gdiplus::GpPen*, &Gdiplus::DllExports::GdipDeletePen>;
using GdipSolidBrush =
    UniqueHandle<Gdiplus::GpSolidFill*, &gdip_detail::DeleteBrush<Gdiplus::GpSolidFill>>;
using GdipLinearBrush =
    UniqueHandle<Gdiplus::GpLineGradient*, &gdip_detail::DeleteBrush<Gdiplus::GpLineGradient>>;
using GdipFontFamily =
    UniqueHandle<Gdiplus::GpFontFamily*, &Gdiplus::DllExports::GdipDeleteFontFamily>;
using GdipFont = UniqueHandle<Gdiplus::GpFont*, &Gdiplus::DllExports::GdipDeleteFont>;
using GdipStringFormat =
    UniqueHandle<Gdiplus::GpStringFormat*, &Gdiplus::DllExports::GdipDeleteStringFormat>;
using GdipBitmap = UniqueHandle<Gdiplus::GpBitmap*, &gdip_detail::DisposeImage<Gdiplus::GpBitmap>>;
using GdipImage = UniqueHandle<Gdiplus::GpImage*, &gdip_detail::DisposeImage<Gdiplus::GpImage>>;

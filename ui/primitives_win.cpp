#include "ui/primitives_win.h"

#include <algorithm>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

GdipFontFamily MakeFamily(const wchar_t* name) {
    GdipFontFamily family;
    if (GdipCreateFontFamilyFromName(name, nullptr, family.put()) != Ok) family.reset();
    return family;
}

GdipFont MakeFont(const GdipFontFamily& family, float size, INT style) {
    GdipFont font;
    GdipCreateFont(family.get(), size, style, UnitPixel, font.put());
    return font;
}

// A two-colour gradient down a vertical line, tiled beyond its ends.
GdipLinearBrush VerticalGradient(float x, float y0, float y1, Argb top, Argb bottom) {
    const PointF from(x, y0);
    const PointF to(x, y1);
    GdipLinearBrush brush;
    GdipCreateLineBrush(&from, &to, top, bottom, WrapModeTile, brush.put());
    return brush;
}

void FillRoundedWith(GpGraphics* graphics, GpBrush* brush, float x, float y, float w, float h,
                     float r) {
    GdipPath path;
    GdipCreatePath(FillModeAlternate, path.put());
    AddRoundedRect(path.get(), x, y, w, h, r);
    GdipFillPath(graphics, brush, path.get());
}

}  // namespace

PaintFonts MakePaintFonts() {
    PaintFonts fonts;
    fonts.family = MakeFamily(L"Segoe UI");
    if (!fonts.family) fonts.family = MakeFamily(L"Arial");
    fonts.body = MakeFont(fonts.family, 12.5f, FontStyleRegular);
    fonts.strong = MakeFont(fonts.family, 13.0f, FontStyleBold);
    fonts.button = MakeFont(fonts.family, 13.5f, FontStyleBold);
    fonts.small = MakeFont(fonts.family, 11.5f, FontStyleRegular);
    fonts.smallBold = MakeFont(fonts.family, 11.5f, FontStyleBold);
    fonts.center = MakeStringFormat(StringAlignmentCenter, StringAlignmentCenter);
    fonts.left = MakeStringFormat(StringAlignmentNear, StringAlignmentCenter);
    GdipSetStringFormatTrimming(fonts.left.get(), StringTrimmingEllipsisPath);
    GdipSetStringFormatFlags(fonts.left.get(), StringFormatFlagsNoWrap);
    fonts.right = MakeStringFormat(StringAlignmentFar, StringAlignmentCenter);
    return fonts;
}

GdipStringFormat MakeStringFormat(StringAlignment horizontal, StringAlignment vertical) {
    GdipStringFormat format;
    GdipCreateStringFormat(0, LANG_NEUTRAL, format.put());
    GdipSetStringFormatAlign(format.get(), horizontal);
    GdipSetStringFormatLineAlign(format.get(), vertical);
    return format;
}

void DrawLabel(GpGraphics* graphics, const char16_t* text, GpFont* font, GpStringFormat* format,
               Argb color, float x, float y, float w, float h) {
    GdipSolidBrush brush;
    GdipCreateSolidFill(color, brush.put());
    const RectF layout(x, y, w, h);
    GdipDrawString(graphics, reinterpret_cast<const WCHAR*>(text), -1, font, &layout, format,
                   brush.get());
}

void AddRoundedRect(GpPath* path, float x, float y, float w, float h, float r) {
    const float d = std::min(w <= h ? w : h, 2.0f * r);
    if (d <= 0.5f) {
        GdipAddPathRectangle(path, x, y, w, h);
        return;
    }
    GdipAddPathArc(path, x, y, d, d, 180.0f, 90.0f);
    GdipAddPathArc(path, x + w - d, y, d, d, 270.0f, 90.0f);
    GdipAddPathArc(path, x + w - d, y + h - d, d, d, 0.0f, 90.0f);
    GdipAddPathArc(path, x, y + h - d, d, d, 90.0f, 90.0f);
    GdipClosePathFigure(path);
}

void FillRoundedRect(GpGraphics* graphics, float x, float y, float w, float h, float r,
                     Argb color) {
    GdipSolidBrush brush;
    GdipCreateSolidFill(color, brush.put());
    FillRoundedWith(graphics, brush.get(), x, y, w, h, r);
}

void StrokeRoundedRect(GpGraphics* graphics, float x, float y, float w, float h, float r,
                       Argb color, float penWidth) {
    GdipPen pen;
    GdipCreatePen1(color, penWidth, UnitWorld, pen.put());
    GdipPath path;
    GdipCreatePath(FillModeAlternate, path.put());
    AddRoundedRect(path.get(), x, y, w, h, r);
    GdipDrawPath(graphics, pen.get(), path.get());
}

void DrawPrimaryButton(GpGraphics* graphics, const LayoutRect& rect, bool hovered, bool pressed,
                       const char16_t* label, const PaintFonts& fonts) {
    const auto [x, y, w, h] = rect;
    // Pressing darkens only the inner body; the rim and the text follow the hover alone.
    const Argb outerTop = hovered ? 0xFFB6D908 : 0xFFA4D007;
    const Argb outerBottom = hovered ? 0xFF80A006 : 0xFF536904;
    Argb innerTop = hovered ? 0xFFA1BF07 : 0xFF799905;
    Argb innerBottom = hovered ? 0xFF80A006 : 0xFF536904;
    if (pressed) {
        innerTop = 0xFF627D05;
        innerBottom = 0xFF485C03;
    }
    const Argb text = hovered ? colorWhite : 0xFFD2E885;

    GdipLinearBrush outer = VerticalGradient(x, y, y + h, outerTop, outerBottom);
    FillRoundedWith(graphics, outer.get(), x, y, w, h, 2.0f);
    GdipLinearBrush inner = VerticalGradient(x, y + 1.0f, y + h - 1.0f, innerTop, innerBottom);
    FillRoundedWith(graphics, inner.get(), x + 1.0f, y + 1.0f, w - 2.0f, h - 2.0f, 2.0f);

    DrawLabel(graphics, label, fonts.button.get(), fonts.center.get(), 0x5F000000, x, y + 1.0f, w,
              h);
    DrawLabel(graphics, label, fonts.button.get(), fonts.center.get(), text, x, y, w, h);
}

void DrawSecondaryButton(GpGraphics* graphics, const LayoutRect& rect, bool hovered, GpFont* font,
                         const char16_t* label, const PaintFonts& fonts) {
    const auto [x, y, w, h] = rect;
    GdipLinearBrush body = VerticalGradient(x, y, y + h, hovered ? 0xFF3A5471 : 0xFF2E435B,
                                            hovered ? 0xFF2D425A : 0xFF233346);
    FillRoundedWith(graphics, body.get(), x, y, w, h, 2.0f);
    StrokeRoundedRect(graphics, x, y, w, h, 2.0f, hovered ? colorAccent : 0xFF42607E, 1.0f);
    DrawLabel(graphics, label, font, fonts.center.get(), hovered ? colorWhite : colorTextSoft, x, y,
              w, h);
}

void DrawCheckBox(GpGraphics* graphics, const LayoutRect& row, bool checked, bool hovered,
                  const char16_t* label, const PaintFonts& fonts) {
    const auto [x, y, w, h] = row;
    const float bx = x;
    const float by = y + 3.0f;
    FillRoundedRect(graphics, bx, by, 17.0f, 17.0f, 2.0f, colorField);
    StrokeRoundedRect(graphics, bx, by, 17.0f, 17.0f, 2.0f,
                      (checked || hovered) ? colorAccent : colorBorder, 1.2f);
    if (checked) {
        GdipPen pen;
        GdipCreatePen1(hovered ? colorAccentLight : colorAccent, 2.1f, UnitWorld, pen.put());
        GdipSetPenStartCap(pen.get(), LineCapRound);
        GdipSetPenEndCap(pen.get(), LineCapRound);
        GdipSetPenLineJoin(pen.get(), LineJoinRound);
        const PointF tick[] = {
            {bx + 3.8f, by + 8.6f}, {bx + 7.1f, by + 12.0f}, {bx + 13.0f, by + 5.2f}};
        GdipDrawLines(graphics, pen.get(), tick, 3);
    }
    DrawLabel(graphics, label, fonts.body.get(), fonts.left.get(),
              hovered ? colorWhite : colorTextSoft, x + 26.0f, y, w - 26.0f, h);
}

// The vector toolkit the installer window is drawn with: rounded rectangles, the two button
// kinds and the check box. Each call makes and releases its own paths, brushes and pens; a failed
// GDI+ call leaves its status behind and drawing goes on. Windows-only header.
#pragma once

#include "app/state.h"
#include "common/gdiplus_handles_win.h"

using Argb = Gdiplus::ARGB;

// The window's palette.
inline constexpr Argb colorField = 0xFF101822;
inline constexpr Argb colorBorder = 0xFF2A475E;
inline constexpr Argb colorWhite = 0xFFFFFFFF;
inline constexpr Argb colorTextSoft = 0xFFC7D5E0;
inline constexpr Argb colorAccent = 0xFF66C0F4;
inline constexpr Argb colorAccentLight = 0xFF82CEFA;
inline constexpr Argb colorMuted = 0xFF8F98A0;
inline constexpr Argb colorTrack = 0xFF0F1721;

// The fonts and string formats of one paint. Members are released in reverse order, the family
// last.
struct PaintFonts {
    GdipFontFamily family;
    GdipFont body;       // 12.5 px regular
    GdipFont strong;     // 13 px bold
    GdipFont button;     // 13.5 px bold
    GdipFont small;      // 11.5 px regular
    GdipFont smallBold;  // 11.5 px bold
    GdipStringFormat center;
    GdipStringFormat left;  // one line, long paths shortened in the middle
    GdipStringFormat right;
};

// "Segoe UI", or "Arial" for all five fonts when that family cannot be made.
PaintFonts MakePaintFonts();

// A string format made with no flags in the neutral language, then aligned.
GdipStringFormat MakeStringFormat(Gdiplus::StringAlignment horizontal,
                                  Gdiplus::StringAlignment vertical);

// Draws null-terminated text into a layout rectangle in a solid colour.
void DrawLabel(Gdiplus::GpGraphics* graphics, const char16_t* text, Gdiplus::GpFont* font,
               Gdiplus::GpStringFormat* format, Argb color, float x, float y, float w, float h);

// Adds a closed rounded-rectangle figure; a plain rectangle when the corner arcs would be
// 0.5 pixels across or less.
void AddRoundedRect(Gdiplus::GpPath* path, float x, float y, float w, float h, float r);
void FillRoundedRect(Gdiplus::GpGraphics* graphics, float x, float y, float w, float h, float r,
                     Argb color);
void StrokeRoundedRect(Gdiplus::GpGraphics* graphics, float x, float y, float w, float h, float r,
                       Argb color, float penWidth);

// The green button: Install, Launch, Retry.
void DrawPrimaryButton(Gdiplus::GpGraphics* graphics, const LayoutRect& rect, bool hovered,
                       bool pressed, const char16_t* label, const PaintFonts& fonts);
// The dark button: Browse, Cancel, Close.
void DrawSecondaryButton(Gdiplus::GpGraphics* graphics, const LayoutRect& rect, bool hovered,
                         Gdiplus::GpFont* font, const char16_t* label, const PaintFonts& fonts);
// A 17 by 17 box at the row's left, the label beside it, centred in the full row.
void DrawCheckBox(Gdiplus::GpGraphics* graphics, const LayoutRect& row, bool checked, bool hovered,
                  const char16_t* label, const PaintFonts& fonts);

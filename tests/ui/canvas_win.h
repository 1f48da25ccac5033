// GDI+ for the drawing tests: a session per test suite, and an 880 by 672 canvas drawn at
// scale 2 whose pixels are read back by logical coordinates.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "common/gdiplus_handles_win.h"

class GdiplusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }

private:
    static inline ULONG_PTR token_ = 0;
};

struct Canvas {
    GdipBitmap bitmap;
    GdipGraphics graphics;
};

// A black 880 by 672 canvas. With `scaled`, the graphics draws logical pixels at scale 2 with
// the pixel offset the painter uses; the painter sets up its own graphics otherwise.
inline Canvas MakeCanvas(bool scaled) {
    using namespace Gdiplus::DllExports;
    Canvas c;
    GdipCreateBitmapFromScan0(880, 672, 0, PixelFormat32bppPARGB, nullptr, c.bitmap.put());
    GdipGetImageGraphicsContext(c.bitmap.get(), c.graphics.put());
    GdipGraphicsClear(c.graphics.get(), 0xFF000000);
    if (scaled) {
        GdipSetPixelOffsetMode(c.graphics.get(), Gdiplus::PixelOffsetModeHalf);
        GdipScaleWorldTransform(c.graphics.get(), 2.0f, 2.0f, Gdiplus::MatrixOrderPrepend);
    }
    return c;
}

// The device pixel whose top-left corner is at logical (x, y), x and y in half-pixel steps.
inline uint32_t At(const Canvas& c, float x, float y) {
    Gdiplus::ARGB argb = 0;
    Gdiplus::DllExports::GdipBitmapGetPixel(c.bitmap.get(), static_cast<INT>(x * 2.0f),
                                            static_cast<INT>(y * 2.0f), &argb);
    return argb;
}

inline ::testing::AssertionResult ColourNear(uint32_t actual, uint32_t expected,
                                             int tolerance = 4) {
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (a - e > tolerance || e - a > tolerance) {
            char text[96];
            std::snprintf(text, sizeof(text), "colour %08X is not within %d of %08X",
                          static_cast<unsigned>(actual), tolerance,
                          static_cast<unsigned>(expected));
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}

// The colour a+(b-a)*t per channel, opaque: where a vertical gradient stands at a point.
inline uint32_t Mix(uint32_t a, uint32_t b, float t) {
    uint32_t out = 0xFF000000;
    for (int shift : {0, 8, 16}) {
        const float ca = static_cast<float>((a >> shift) & 0xFF);
        const float cb = static_cast<float>((b >> shift) & 0xFF);
        out |= static_cast<uint32_t>(ca + (cb - ca) * t + 0.5f) << shift;
    }
    return out;
}

// The brightest pixel of a rectangle: where text strokes cover whole pixels it shows the colour
// the text was drawn in.
inline uint32_t Brightest(const Canvas& c, float x0, float y0, float x1, float y1) {
    uint32_t best = 0;
    int bestSum = -1;
    for (float y = y0; y < y1; y += 0.5f) {
        for (float x = x0; x < x1; x += 0.5f) {
            const uint32_t p = At(c, x, y);
            const int sum = ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
            if (sum > bestSum) {
                bestSum = sum;
                best = p;
            }
        }
    }
    return best;
}

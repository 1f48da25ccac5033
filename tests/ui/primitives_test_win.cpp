// The drawing primitives: the rounded figure's geometry, and the looks of the buttons and the
// check box read back from pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/ui/canvas_win.h"
#include "ui/primitives_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

class Primitives : public GdiplusTest {};

GdipPath RoundedPath(float x, float y, float w, float h, float r) {
    GdipPath path;
    GdipCreatePath(FillModeAlternate, path.put());
    AddRoundedRect(path.get(), x, y, w, h, r);
    return path;
}

INT PointCount(const GdipPath& path) {
    INT count = -1;
    GdipGetPointCount(path.get(), &count);
    return count;
}

std::vector<PointF> PathPoints(const GdipPath& path) {
    std::vector<PointF> points(static_cast<size_t>(std::max(PointCount(path), 0)));
    if (!points.empty())
        GdipGetPathPoints(path.get(), points.data(), static_cast<INT>(points.size()));
    return points;
}

TEST_F(Primitives, TinyCornersOrTinySidesGiveAPlainRectangle) {
    EXPECT_EQ(PointCount(RoundedPath(0, 0, 0.5f, 20, 2)), 4);
    EXPECT_EQ(PointCount(RoundedPath(0, 0, 20, 0.4f, 2)), 4);
    EXPECT_EQ(PointCount(RoundedPath(0, 0, 20, 20, 0.25f)), 4);
    EXPECT_EQ(PointCount(RoundedPath(0, 0, 20, 20, 0)), 4);
    const std::vector<PointF> corners = PathPoints(RoundedPath(2, 3, 20, 10, 0.25f));
    ASSERT_EQ(corners.size(), 4u);
    EXPECT_NEAR(corners[0].X, 2.0f, 0.01f);
    EXPECT_NEAR(corners[0].Y, 3.0f, 0.01f);
    EXPECT_NEAR(corners[2].X, 22.0f, 0.01f);
    EXPECT_NEAR(corners[2].Y, 13.0f, 0.01f);
    // Just above the limit the four corners are arcs.
    const GdipPath arcs = RoundedPath(0, 0, 20, 20, 0.26f);
    EXPECT_GT(PointCount(arcs), 4);
}

// The ends of the four 90-degree arcs (each drawn as one Bezier of four points), in order:
// top-left, top-right, bottom-right, bottom-left.
void ExpectArcEnds(const GdipPath& path, const std::vector<PointF>& ends) {
    const std::vector<PointF> points = PathPoints(path);
    ASSERT_EQ(points.size(), 16u);
    for (size_t i = 0; i < 8; ++i) {
        const PointF& p = points[(i / 2) * 4 + (i % 2) * 3];
        EXPECT_NEAR(p.X, ends[i].X, 0.01f) << "arc end " << i;
        EXPECT_NEAR(p.Y, ends[i].Y, 0.01f) << "arc end " << i;
    }
}

TEST_F(Primitives, ABarAsHighAsTwiceTheRadiusHasHalfCircleEnds) {
    // Radius 3 on a 6-high bar: d = 6, so the arcs at each end meet at the end's middle.
    ExpectArcEnds(RoundedPath(0, 0, 20, 6, 3),
                  {{0, 3}, {3, 0}, {17, 0}, {20, 3}, {20, 3}, {17, 6}, {3, 6}, {0, 3}});
    BYTE types[16] = {};
    GdipGetPathTypes(RoundedPath(0, 0, 20, 6, 3).get(), types, 16);
    EXPECT_NE(types[15] & PathPointTypeCloseSubpath, 0) << "figure not closed";
}

TEST_F(Primitives, TheCornerDiameterIsCappedByTheShorterSide) {
    // Radius 10 on a 20 by 8 box: d = 8, not 20.
    ExpectArcEnds(RoundedPath(0, 0, 20, 8, 10),
                  {{0, 4}, {4, 0}, {16, 0}, {20, 4}, {20, 4}, {16, 8}, {4, 8}, {0, 4}});
    // A 368 by 42 button with radius 2: d = 4.
    ExpectArcEnds(RoundedPath(36, 264, 368, 42, 2), {{36, 266},
                                                     {38, 264},
                                                     {402, 264},
                                                     {404, 266},
                                                     {404, 304},
                                                     {402, 306},
                                                     {38, 306},
                                                     {36, 304}});
}

// The primary button at its window place: a 1-pixel rim of the outer gradient around an inner
// body of 366 by 40.
struct ButtonLook {
    uint32_t rimTop, innerTop, rimLeft, innerLeft;
};

ButtonLook DrawButton(bool hovered, bool pressed) {
    Canvas c = MakeCanvas(true);
    const PaintFonts fonts = MakePaintFonts();
    DrawPrimaryButton(c.graphics.get(), LayoutRect{36, 264, 368, 42}, hovered, pressed, u"", fonts);
    return {At(c, 300, 264), At(c, 300, 265), At(c, 36, 285), At(c, 37, 285)};
}

TEST_F(Primitives, PrimaryButtonRimInnerBodyAndItsThreeLooks) {
    const ButtonLook idle = DrawButton(false, false);
    EXPECT_TRUE(ColourNear(idle.rimTop, 0xFFA4D007, 8));
    EXPECT_TRUE(ColourNear(idle.innerTop, 0xFF799905, 8));
    EXPECT_TRUE(ColourNear(idle.rimLeft, Mix(0xFFA4D007, 0xFF536904, 21.0f / 42.0f), 8));
    EXPECT_TRUE(ColourNear(idle.innerLeft, Mix(0xFF799905, 0xFF536904, 20.0f / 40.0f), 8));

    const ButtonLook hovered = DrawButton(true, false);
    EXPECT_TRUE(ColourNear(hovered.rimTop, 0xFFB6D908, 8));
    EXPECT_TRUE(ColourNear(hovered.innerTop, 0xFFA1BF07, 8));

    // Pressing darkens only the inner body; the rim follows the hover alone.
    const ButtonLook pressed = DrawButton(false, true);
    EXPECT_TRUE(ColourNear(pressed.rimTop, 0xFFA4D007, 8));
    EXPECT_TRUE(ColourNear(pressed.innerTop, 0xFF627D05, 8));
    const ButtonLook hoveredPressed = DrawButton(true, true);
    EXPECT_TRUE(ColourNear(hoveredPressed.rimTop, 0xFFB6D908, 8));
    EXPECT_TRUE(ColourNear(hoveredPressed.innerTop, 0xFF627D05, 8));
}

TEST_F(Primitives, SecondaryButtonOutlineAndBodyFollowTheHover) {
    for (bool hovered : {false, true}) {
        Canvas c = MakeCanvas(true);
        const PaintFonts fonts = MakePaintFonts();
        DrawSecondaryButton(c.graphics.get(), LayoutRect{282, 264, 122, 42}, hovered,
                            fonts.button.get(), u"", fonts);
        EXPECT_TRUE(ColourNear(At(c, 282, 285), hovered ? colorAccent : 0xFF42607E)) << hovered;
        const uint32_t body =
            hovered ? Mix(0xFF3A5471, 0xFF2D425A, 0.5f) : Mix(0xFF2E435B, 0xFF233346, 0.5f);
        EXPECT_TRUE(ColourNear(At(c, 290, 285), body, 6)) << hovered;
    }
}

// A 24-high row at (36, 198): the box spans y 201 to 218; the tick crosses (46, 209.6).
struct BoxLook {
    uint32_t aboveBox, outlineLeft, outlineTop, outlineBottom, belowBox, tick, emptyCorner;
};

BoxLook DrawBox(bool checked, bool hovered) {
    Canvas c = MakeCanvas(true);
    const PaintFonts fonts = MakePaintFonts();
    DrawCheckBox(c.graphics.get(), LayoutRect{36, 198, 340, 24}, checked, hovered, u"", fonts);
    return {At(c, 44, 199.5f), At(c, 36, 209.5f), At(c, 44, 201), At(c, 44, 217.5f),
            At(c, 44, 219),    At(c, 46, 209.5f), At(c, 49, 214)};
}

TEST_F(Primitives, CheckBoxSpansThreeToTwentyOfItsRowAndColoursByState) {
    const BoxLook ticked = DrawBox(true, false);
    EXPECT_TRUE(ColourNear(ticked.aboveBox, 0xFF000000));
    EXPECT_TRUE(ColourNear(ticked.belowBox, 0xFF000000));
    EXPECT_TRUE(ColourNear(ticked.outlineLeft, colorAccent));
    EXPECT_TRUE(ColourNear(ticked.outlineTop, colorAccent));
    EXPECT_TRUE(ColourNear(ticked.outlineBottom, colorAccent));
    EXPECT_TRUE(ColourNear(ticked.tick, colorAccent));
    EXPECT_TRUE(ColourNear(ticked.emptyCorner, colorField));

    const BoxLook clear = DrawBox(false, false);
    EXPECT_TRUE(ColourNear(clear.outlineLeft, colorBorder));
    EXPECT_TRUE(ColourNear(clear.tick, colorField));

    const BoxLook hoveredClear = DrawBox(false, true);
    EXPECT_TRUE(ColourNear(hoveredClear.outlineLeft, colorAccent));
    EXPECT_TRUE(ColourNear(hoveredClear.tick, colorField));

    const BoxLook hoveredTicked = DrawBox(true, true);
    EXPECT_TRUE(ColourNear(hoveredTicked.tick, colorAccentLight));
}

TEST_F(Primitives, CheckBoxLabelIsCentredInTheRowAndWhiteWhenHovered) {
    for (bool hovered : {false, true}) {
        Canvas c = MakeCanvas(true);
        const PaintFonts fonts = MakePaintFonts();
        ASSERT_TRUE(fonts.body) << "no font family: the prefix needs its font replacements";
        DrawCheckBox(c.graphics.get(), LayoutRect{36, 198, 340, 24}, false, hovered, u"HHHH",
                     fonts);
        EXPECT_TRUE(
            ColourNear(Brightest(c, 62, 198, 120, 222), hovered ? colorWhite : colorTextSoft, 10))
            << hovered;
        // Cap height sits around the row's middle (y 210): nothing far above or below it.
        EXPECT_TRUE(ColourNear(Brightest(c, 62, 198, 120, 202), 0xFF000000, 10));
        EXPECT_TRUE(ColourNear(Brightest(c, 62, 218, 120, 222), 0xFF000000, 10));
        EXPECT_FALSE(ColourNear(Brightest(c, 62, 208, 120, 212), 0xFF000000, 10));
    }
}

}  // namespace

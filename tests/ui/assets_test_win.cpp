// The start-up assets and the preview: default folder, logo from the resource (this test
// executable carries the installer's RCDATA 101), a corrupted logo, and the PNG writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/state.h"
#include "common/handles_win.h"
#include "common/scoped_override.h"
#include "tests/support/scratch.h"
#include "tests/ui/canvas_win.h"
#include "ui/assets.h"
#include "ui/assets_win.h"
#include "ui/paint_win.h"
#include "ui/primitives_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

class Assets : public GdiplusTest {};

std::optional<std::u16string> UserA() {
    return u"C:\\Users\\a\\AppData\\Local";
}
std::optional<std::u16string> TrailingSlash() {
    return u"D:\\Data\\";
}
std::optional<std::u16string> NoFolder() {
    return std::nullopt;
}

TEST_F(Assets, TheDefaultFolderIsVarnokClientInLocalAppData) {
    InstallerState state;
    {
        ScopedOverride folder(g_localAppDataFolder, &UserA);
        LoadInstallerAssets(state);
        EXPECT_EQ(state.installDir, u"C:\\Users\\a\\AppData\\Local\\VarnokClient");
    }
    {
        ScopedOverride folder(g_localAppDataFolder, &TrailingSlash);
        LoadInstallerAssets(state);
        EXPECT_EQ(state.installDir, u"D:\\Data\\VarnokClient");
    }
    {
        ScopedOverride folder(g_localAppDataFolder, &NoFolder);
        LoadInstallerAssets(state);
        EXPECT_EQ(state.installDir, u"C:\\Games\\VarnokClient");
    }
}

// How many near-white pixels the logo band (logical 102..338 by 74..108) holds.
int WhiteInLogoBand(const Canvas& c) {
    int count = 0;
    for (float y = 74; y < 108; y += 0.5f)
        for (float x = 102; x < 338; x += 0.5f)
            if (ColourNear(At(c, x, y), colorWhite, 40)) ++count;
    return count;
}

Canvas Paint(InstallerState& state) {
    Canvas c = MakeCanvas(false);
    PaintInstaller(c.graphics.get(), state, 2.0f);
    return c;
}

TEST_F(Assets, TheLogoResourceLoadsAt812By112AndIsDrawnInItsBand) {
    InstallerState state;
    state.instance = reinterpret_cast<InstanceHandle>(GetModuleHandleW(nullptr));
    LoadInstallerAssets(state);
    ASSERT_NE(state.logo, nullptr);
    UINT w = 0, h = 0;
    GdipGetImageWidth(static_cast<GpImage*>(state.logo.get()), &w);
    GdipGetImageHeight(static_cast<GpImage*>(state.logo.get()), &h);
    EXPECT_EQ(w, 812u);
    EXPECT_EQ(h, 112u);

    const Canvas c = Paint(state);
    EXPECT_GT(WhiteInLogoBand(c), 2000);
    // Drawn at (102, 74.72, 236, 32.55): nothing white just outside that box.
    for (float x : {96.0f, 344.0f})
        for (float y = 60; y < 125; y += 0.5f)
            EXPECT_FALSE(ColourNear(At(c, x, y), colorWhite, 60));
    for (float x = 102; x < 338; x += 0.5f) {
        EXPECT_FALSE(ColourNear(At(c, x, 72.5f), colorWhite, 60));
        EXPECT_FALSE(ColourNear(At(c, x, 108.5f), colorWhite, 60));
    }
}

const uint8_t kGarbage[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};
std::vector<uint8_t> g_brokenLogo;

std::span<const uint8_t> GarbageLogo(InstanceHandle) {
    return kGarbage;
}
std::span<const uint8_t> NoLogo(InstanceHandle) {
    return {};
}
std::span<const uint8_t> BrokenLogo(InstanceHandle) {
    return g_brokenLogo;
}

// The real resource with its PNG signature broken, and cut to its first half.
std::vector<std::vector<uint8_t>> CorruptedCopiesOfTheLogo() {
    const std::span<const uint8_t> real =
        g_logoResource(reinterpret_cast<InstanceHandle>(GetModuleHandleW(nullptr)));
    std::vector<uint8_t> badSignature(real.begin(), real.end());
    if (!badSignature.empty()) badSignature[1] ^= 0xFF;
    std::vector<uint8_t> headerOnly(real.begin(), real.begin() + std::min<size_t>(real.size(), 40));
    return {badSignature, headerOnly};
}

std::u16string U16(const std::filesystem::path& path) {
    return path.u16string();
}

TEST_F(Assets, ACorruptedLogoLeavesNoLogoAndReplacesAnEarlierOne) {
    InstallerState state;
    state.instance = reinterpret_cast<InstanceHandle>(GetModuleHandleW(nullptr));
    LoadInstallerAssets(state);
    ASSERT_NE(state.logo, nullptr);
    {
        ScopedOverride logo(g_logoResource, &GarbageLogo);
        LoadInstallerAssets(state);
        EXPECT_EQ(state.logo, nullptr);
    }
    {
        ScopedOverride logo(g_logoResource, &NoLogo);
        LoadInstallerAssets(state);
        EXPECT_EQ(state.logo, nullptr);
    }
    for (std::vector<uint8_t>& copy : CorruptedCopiesOfTheLogo()) {
        g_brokenLogo = std::move(copy);
        ScopedOverride logo(g_logoResource, &BrokenLogo);
        LoadInstallerAssets(state);
        EXPECT_EQ(state.logo, nullptr) << g_brokenLogo.size() << " bytes";
    }
}

TEST_F(Assets, APreviewWithACorruptedLogoIsStillWrittenWithAnEmptyBand) {
    ScratchDir dir;
    InstallerState state;
    {
        ScopedOverride logo(g_logoResource, &GarbageLogo);
        LoadInstallerAssets(state);
    }
    ASSERT_EQ(state.logo, nullptr);
    const std::filesystem::path png = dir / "ready.png";
    ASSERT_TRUE(RenderPreview(state, U16(png)));

    Canvas c;
    GpBitmap* loaded = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromFile(reinterpret_cast<const WCHAR*>(U16(png).c_str()), &loaded),
              Ok);
    c.bitmap.reset(loaded);
    UINT w = 0, h = 0;
    GdipGetImageWidth(loaded, &w);
    GdipGetImageHeight(loaded, &h);
    EXPECT_EQ(w, 880u);
    EXPECT_EQ(h, 672u);
    EXPECT_EQ(WhiteInLogoBand(c), 0);
    EXPECT_TRUE(ColourNear(At(c, 40, 150), colorField));  // the rest is drawn as ever
    EXPECT_TRUE(ColourNear(At(c, 0, 300), colorBorder));
}

TEST_F(Assets, SavingIntoAMissingFolderFailsAndWritesNothing) {
    ScratchDir dir;
    InstallerState state;
    const std::filesystem::path png = dir / "missing" / "out.png";
    EXPECT_FALSE(RenderPreview(state, U16(png)));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

    Canvas c = MakeCanvas(false);
    EXPECT_FALSE(SavePng(c.bitmap.get(), U16(png)));
    EXPECT_TRUE(SavePng(c.bitmap.get(), U16(dir / "out.png")));
    EXPECT_EQ(ReadFileBytes(dir / "out.png").substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
}

TEST(IconResource, EverySizeLoadsAtItsOwnSizeWithItsDrawing) {
    // The group's entries are PNG-compressed; each must still load as an icon of exactly that
    // size, drawn (an opaque centre) rather than an empty or scaled stand-in.
    for (const int size : {16, 20, 24, 32, 40, 48, 64, 128, 256}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info)) << size;
        BITMAP colour{};
        GetObjectW(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        std::vector<uint32_t> pixels(static_cast<size_t>(size) * size);
        BITMAPINFO header{};
        header.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        const UniqueScreenDc dc(GetDC(nullptr));
        const int rows =
            GetDIBits(dc.get(), info.hbmColor, 0, size, pixels.data(), &header, DIB_RGB_COLORS);
        EXPECT_EQ(rows, size);
        EXPECT_EQ(pixels[(size / 2) * size + size / 2] >> 24, 0xFFu) << "centre of " << size;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

}  // namespace

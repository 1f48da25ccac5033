#include "ui/assets.h"

#include <shlwapi.h>

#include <vector>

#include "app/state.h"
#include "common/gdiplus_handles_win.h"
#include "common/handles_win.h"
#include "common/path.h"
#include "common/text_win.h"
#include "ui/assets_win.h"
#include "ui/paint_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr int kLogoResourceId = 101;
constexpr INT kPreviewWidth = 880;
constexpr INT kPreviewHeight = 672;

std::span<const uint8_t> SystemLogoResource(InstanceHandle instance) {
    HMODULE module = reinterpret_cast<HMODULE>(instance);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(kLogoResourceId), RT_RCDATA);
    if (!info) return {};
    // A loaded resource belongs to the module and is never freed by hand.
    HGLOBAL loaded = LoadResource(module, info);
    if (!loaded) return {};
    const void* data = LockResource(loaded);
    const DWORD size = SizeofResource(module, info);
    if (!data || size == 0) return {};
    return {static_cast<const uint8_t*>(data), size};
}

// A GDI+ bitmap decoded from PNG bytes, or null.
LogoPtr DecodeLogo(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return nullptr;
    GdipBitmap bitmap;
    {
        // The stream holds its own copy of the bytes and is released before the bitmap is kept.
        ComPtr<IStream> stream(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
        if (!stream) return nullptr;
        if (GdipCreateBitmapFromStream(stream.get(), bitmap.put()) != Ok) return nullptr;
    }
    return LogoPtr(bitmap.release());
}

}  // namespace

LogoResourceFn g_logoResource = &SystemLogoResource;

std::u16string DefaultInstallDir() {
    const std::optional<std::u16string> localAppData = g_localAppDataFolder();
    return localAppData ? JoinPath(*localAppData, u"VarnokClient")
                        : std::u16string(u"C:\\Games\\VarnokClient");
}

void LoadInstallerAssets(InstallerState& state) {
    state.installDir = DefaultInstallDir();
    state.logo = DecodeLogo(g_logoResource(state.instance));
}

bool SavePng(GpImage* image, const std::u16string& path) {
    UINT count = 0;
    UINT bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return false;
    // ImageCodecInfo records followed by the strings they point into, in one block.
    std::vector<ImageCodecInfo> block((bytes + sizeof(ImageCodecInfo) - 1) /
                                      sizeof(ImageCodecInfo));
    auto* codecs = block.data();
    if (GdipGetImageEncoders(count, bytes, codecs) != Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && std::wstring_view(codecs[i].MimeType) == L"image/png") {
            return GdipSaveImageToFile(image, Wz(path), &codecs[i].Clsid, nullptr) == Ok;
        }
    }
    return false;
}

bool RenderPreview(InstallerState& state, const std::u16string& pngPath) {
    GdipBitmap bitmap;
    if (GdipCreateBitmapFromScan0(kPreviewWidth, kPreviewHeight, 0, PixelFormat32bppPARGB, nullptr,
                                  bitmap.put()) != Ok) {
        return false;
    }
    {
        GdipGraphics graphics;
        if (GdipGetImageGraphicsContext(bitmap.get(), graphics.put()) != Ok) return false;
        PaintInstaller(graphics.get(), state, 2.0f);
    }
    return SavePng(bitmap.get(), pngPath);
}

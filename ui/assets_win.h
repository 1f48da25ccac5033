// The Windows side of the start-up assets: the PNG writer and the two platform questions that
// LoadInstallerAssets asks, replaceable in tests. Windows-only header.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <span>
#include <string>

#include "app/state.h"
#include "common/known_folders.h"

// Saves an image as PNG with the first "image/png" encoder; true when the file was written.
bool SavePng(Gdiplus::GpImage* image, const std::u16string& path);

// The bytes of the logo resource (RCDATA 101) of a module; empty when it is missing. The bytes
// live as long as the module.
using LogoResourceFn = std::span<const uint8_t> (*)(InstanceHandle instance);
extern LogoResourceFn g_logoResource;

#include "tests/game/real_folders.h"
#include "tests/support/scratch.h"

void MakeCompleteGame(const std::filesystem::path& folder) {
    for (const char* name :
         {"Morvanta.exe", "csgo.exe", "bin/morvanta_gc.dll", "bin/engine.dll",
          "csgo/bin/client.dll", "csgo/pak01_dir.vpk", "csgo/resource/flash/mainmenu.swf"})
        WriteFileBytes(folder / name, "x");
    WriteFileBytes(folder / "csgo/steam.inf",
                   "ClientVersion=2000258\r\nPatchVersion=1.36.3.4\r\nProductName=csgo\r\n");
}

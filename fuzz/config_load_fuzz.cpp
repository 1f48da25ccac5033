// Arbitrary bytes as config.json. The load must never throw, must never write when the bytes are
// not one complete JSON value, and whenever it writes, the written file must load back to the same
// record without being written again.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "common/own_path.h"
#include "settings/launcher_config.h"
#include "settings/settings_platform.h"

namespace fs = std::filesystem;

namespace {

fs::path g_base;

std::optional<std::u16string> FuzzBase() {
    return g_base.u16string();
}
std::u16string NoOwnPath() {
    return {};
}

// A private settings folder for this run, removed when the fuzzer exits.
struct Setup {
    Setup() {
        g_base = fs::temp_directory_path() / ("varnok-fuzz-" + std::to_string(getpid()));
        fs::create_directories(g_base);
        g_localAppDataFolder = &FuzzBase;
        g_ownExecutablePath = &NoOwnPath;  // detection must not depend on where the fuzzer lives
        file = fs::path(SettingsFolder()) / "config.json";
    }
    ~Setup() {
        std::error_code ec;
        fs::remove_all(g_base, ec);
    }
    fs::path file;
};

struct Seen {
    std::string bytes;
    fs::file_time_type time;
    bool operator==(const Seen&) const = default;
};

Seen Look(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::error_code ec;
    return {std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            fs::last_write_time(file, ec)};
}

// Ends the run with the finding; the settings folder goes first, as abort skips destructors.
[[noreturn]] void Fail() {
    std::error_code ec;
    fs::remove_all(g_base, ec);
    std::abort();
}

void Check(bool condition) {
    if (!condition) Fail();
}

LauncherConfig LoadOrAbort() {
    try {
        return LoadLauncherConfig();
    } catch (...) {
        Fail();  // the load must never let an exception out
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Setup setup;
    const std::string input(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(setup.file, std::ios::binary | std::ios::trunc);
        out.write(input.data(), static_cast<std::streamsize>(input.size()));
    }
    // An old time, so that any rewrite shows even when it writes the same bytes.
    fs::last_write_time(setup.file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    const Seen before = Look(setup.file);

    const LauncherConfig first = LoadOrAbort();
    const Seen after = Look(setup.file);
    Check(!fs::exists(fs::path(setup.file) += ".tmp"));

    if (!nlohmann::json::accept(input, false)) Check(after == before);
    if (after != before) {
        const LauncherConfig second = LoadOrAbort();
        Check(second == first);
        Check(Look(setup.file) == after);
    }
    return 0;
}

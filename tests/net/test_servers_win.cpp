#include "tests/net/test_servers_win.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace {

// A Linux path seen from inside Wine: the Z: drive is the Linux root.
std::string ToWindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TestServers Load() {
    TestServers servers;
    const char* file = std::getenv("VARNOK_TEST_SERVERS");
    if (file == nullptr || *file == '\0') return servers;
    const std::string text = ReadAll(ToWindowsPath(file));
    try {
        const auto json = nlohmann::json::parse(text);
        servers.trustedPort = json.at("nginx").at("trusted_port").get<uint16_t>();
        servers.otherNamePort = json.at("nginx").at("other_name_port").get<uint16_t>();
        servers.rogueCaPort = json.at("nginx").at("rogue_ca_port").get<uint16_t>();
        servers.faultTlsPort = json.at("fault").at("tls_port").get<uint16_t>();
        servers.faultPlainPort = json.at("fault").at("plain_port").get<uint16_t>();
        servers.faultLog = ToWindowsPath(json.at("fault").at("log").get<std::string>());
        servers.closedPort = json.at("closed_port").get<uint16_t>();
        for (const auto& [name, entry] : json.at("files").items()) {
            servers.files[name] =
                ServedFile{entry.at("path").get<std::string>(), entry.at("size").get<uint64_t>(),
                           entry.at("sha256").get<std::string>()};
        }
        servers.loaded = true;
    } catch (const nlohmann::json::exception& e) {
        servers.problem =
            std::string("cannot read the test servers file ") + file + ": " + e.what();
    }
    return servers;
}

}  // namespace

const TestServers& Servers() {
    static const TestServers servers = Load();
    return servers;
}

std::string HttpsUrl(uint16_t port, const std::string& target) {
    return "https://localhost:" + std::to_string(port) + target;
}

std::vector<LoggedRequest> FaultRequests() {
    std::vector<LoggedRequest> requests;
    std::istringstream lines(ReadAll(Servers().faultLog));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        const auto entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_discarded()) continue;
        LoggedRequest request;
        request.target = entry.value("target", "");
        if (entry.contains("user_agent") && entry["user_agent"].is_string())
            request.userAgent = entry["user_agent"].get<std::string>();
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<LoggedRequest> FaultRequestsWith(const std::string& text) {
    std::vector<LoggedRequest> found;
    for (auto& request : FaultRequests())
        if (request.target.find(text) != std::string::npos) found.push_back(std::move(request));
    return found;
}

std::string UniqueToken() {
    static std::atomic<int> counter{0};
    return "t" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) +
           "-" + std::to_string(++counter);
}

std::string PatternBytes(uint64_t count) {
    std::string bytes(count, '\0');
    for (uint64_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(((i * 131) ^ (i >> 8)) & 0xFF);
    return bytes;
}

void MustReturnWithin(int seconds, const char* what, const std::function<void()>& work) {
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    std::thread([done, &work] {
        work();
        std::lock_guard<std::mutex> lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(done->mutex);
    if (!done->cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return done->done; })) {
        std::fprintf(stderr, "FAILED: %s did not return within %d s: it hangs\n", what, seconds);
        std::fflush(stderr);
        std::_Exit(1);
    }
}

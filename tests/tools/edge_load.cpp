// Installer-like load on an update server: each client asks for the manifest, verifies it with
// the installer's verifier, downloads the payload it names and checks its size and SHA-256, then
// pauses and goes again, until its loop count or the time runs out. Every install is written as
// one line "<client> <start ms since 1970> <version or -> <ok or failure code>" for the test to
// judge; a summary goes to standard output.
//
// usage: varnok-edge-load <base URL> <public key hex> <CA file> <clients> <seconds>
//                         <loops per client> <pause ms> <out file>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "net/https.h"
#include "tools/verify.h"

namespace {

struct Install {
    int client;
    int64_t startMs;
    std::string version;
    std::string outcome;
};

struct LoadPlan {
    std::string baseUrl;
    std::string publicKey;
    std::string caFile;
    std::chrono::steady_clock::time_point deadline;
    int loops;
    int pauseMs;
};

int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void RunClient(int id, const LoadPlan& plan, std::vector<Install>& installs) {
    InstallerClient client;
    std::string error;
    if (!OpenInstallerClient(client, plan.caFile, error)) {
        installs.push_back({id, WallMs(), "-", "no_client"});
        return;
    }
    for (int loop = 0; loop < plan.loops && std::chrono::steady_clock::now() < plan.deadline;
         ++loop) {
        Install install{id, WallMs(), "-", "ok"};
        ServedFile answer;
        UpdateManifest manifest;
        if (!FetchManifest(client, plan.baseUrl + std::string(kManifestPath), answer)) {
            install.outcome = "manifest_" + answer.code;
        } else if (!VerifyUpdateManifest(answer.body.data(), answer.body.size(), 0, 0, "", manifest,
                                         plan.publicKey.data(), plan.publicKey.size(), 0, 0) ||
                   !manifest.launcher) {
            install.outcome = "verify_" + (manifest.errorCode.empty() ? std::string("no_launcher")
                                                                      : manifest.errorCode);
        } else {
            install.version = manifest.launcher_version;
            const LauncherEntry& launcher = *manifest.launcher;
            if (!FetchPayload(client, plan.baseUrl + launcher.url, launcher.size_bytes,
                              launcher.sha256, answer))
                install.outcome = "payload_" + answer.code;
        }
        installs.push_back(install);
        std::this_thread::sleep_for(std::chrono::milliseconds(plan.pauseMs));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        std::cerr << "usage: varnok-edge-load <base URL> <public key hex> <CA file> <clients> "
                     "<seconds> <loops per client> <pause ms> <out file>\n";
        return 2;
    }
    LoadPlan plan{argv[1], argv[2], argv[3], {}, std::stoi(argv[6]), std::stoi(argv[7])};
    const int clients = std::stoi(argv[4]);
    plan.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(argv[5]));
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::vector<std::vector<Install>> perClient(clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(RunClient, i, std::cref(plan), std::ref(perClient[i]));
    for (std::thread& t : threads) t.join();
    curl_global_cleanup();

    std::ofstream out(argv[8], std::ios::trunc);
    size_t installs = 0;
    size_t failed = 0;
    for (const auto& list : perClient) {
        for (const Install& install : list) {
            out << install.client << " " << install.startMs << " " << install.version << " "
                << install.outcome << "\n";
            ++installs;
            failed += install.outcome != "ok";
        }
    }
    out.close();
    std::cout << "clients=" << clients << " installs=" << installs << " failed=" << failed << "\n";
    return out ? 0 : 1;
}

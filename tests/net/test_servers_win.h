// Where the test servers of this run listen (written by tests/servers/start_servers.py, found
// through VARNOK_TEST_SERVERS) and what the fault server saw. Windows tests only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ServedFile {
    std::string path;
    uint64_t size = 0;
    std::string sha256;  // of the content the file is meant to have
};

struct TestServers {
    bool loaded = false;
    std::string problem;         // why loading failed
    uint16_t trustedPort = 0;    // nginx, localhost certificate from the trusted test CA
    uint16_t otherNamePort = 0;  // nginx, certificate for another host name
    uint16_t rogueCaPort = 0;    // nginx, localhost certificate from an untrusted CA
    uint16_t faultTlsPort = 0;
    uint16_t faultPlainPort = 0;
    uint16_t closedPort = 0;
    std::string faultLog;  // Windows path of the fault server's request log
    std::map<std::string, ServedFile> files;
};

// Loaded once per process.
const TestServers& Servers();

std::string HttpsUrl(uint16_t port, const std::string& target);

struct LoggedRequest {
    std::string target;
    std::string userAgent;
};
std::vector<LoggedRequest> FaultRequests();
// Requests whose target contains `text`.
std::vector<LoggedRequest> FaultRequestsWith(const std::string& text);

// A text no earlier request of this run has used, for telling requests apart in the log.
std::string UniqueToken();

// Runs `work` and waits at most `seconds` for it. A call that never returns is the fault being
// tested for (a stalled server must end by time-out), so the process then ends at once as failed
// rather than hang the run; the bound is many times the time-out under test, not a speed check.
void MustReturnWithin(int seconds, const char* what, const std::function<void()>& work);

// The bytes the fault server and the served files are made of.
std::string PatternBytes(uint64_t count);

// Skips the test when the servers are not there because the test runs outside ctest; fails it
// when ctest said where they are and they could not be read.
#define REQUIRE_TEST_SERVERS()                                                           \
    do {                                                                                 \
        if (!Servers().loaded) {                                                         \
            if (Servers().problem.empty())                                               \
                GTEST_SKIP() << "no test servers: run through ctest, which starts them"; \
            FAIL() << Servers().problem;                                                 \
        }                                                                                \
    } while (0)

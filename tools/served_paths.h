// What an update server serves, and the Content-Type and Cache-Control of each path: the one table
// that tools/nginx-updates-paths.conf repeats location by location (a test holds the two equal)
// and that push gives every object it uploads, so an object store behind a CDN answers exactly as
// the nginx origin does.
#pragma once

#include <string>
#include <string_view>

struct ServedPath {
    const char* location;      // as nginx's location names it: "= /path", "/prefix/" or "~ regex"
    const char* contentType;   // what nginx's default_type gives it
    const char* cacheControl;  // nginx's add_header Cache-Control
    bool immutable;            // never replaced once stored: its name says what it holds
};

inline constexpr ServedPath kServedPaths[] = {
    {"= /api/updates/manifest", "application/json", "public, max-age=10", false},
    {"/api/updates/files/", "application/octet-stream", "public, max-age=31536000, immutable",
     true},
    {"~ ^/VarnokClientSetup-[0-9]+\\.[0-9]+\\.[0-9]+\\.exe$", "application/octet-stream",
     "public, max-age=31536000, immutable", true},
    {"= /VarnokClientSetup.exe", "application/octet-stream", "public, max-age=60", false},
    {"= /VarnokClientSetup.exe.sha256", "text/plain", "no-store", false},
};

// The row serving `path` ("/api/updates/manifest", "/api/updates/files/<name>", ...), or nullptr
// for what the server never serves. A client file is one plain name of the url rules' characters
// that is not a dot-file; no path with a dot-file segment, "//" or ".." is ever served.
const ServedPath* ServedPathFor(std::string_view path);

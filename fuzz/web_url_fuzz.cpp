// Arbitrary bytes as the web base URL a settings file holds, and as a URL for the strict parser.
// Properties: the normalised form is a fixed point; it is the built-in URL or a clean https
// origin (plain http only to this machine) with a path that cannot reach beyond it; the parser's
// answer survives the origin round trip; and the manifest endpoint built on an accepted base URL
// still names the same host and port, so the request goes where the settings point.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/build_info.h"
#include "fuzz/property.h"
#include "settings/web_base_url.h"

namespace {

bool SameParse(const ParsedHttpUrl& a, const ParsedHttpUrl& b) {
    return a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

bool HasUpper(std::string_view text) {
    for (char c : text)
        if (c >= 'A' && c <= 'Z') return true;
    return false;
}

void CheckParse(std::string_view text) {
    const auto url = ParseHttpUrl(text);
    if (!url) return;
    FUZZ_PROPERTY(url->scheme == "http" || url->scheme == "https", "scheme is http or https");
    FUZZ_PROPERTY(!url->host.empty() && !HasUpper(url->host), "host is lower-case and present");
    FUZZ_PROPERTY(url->port != 0, "port is 1 to 65535");
    FUZZ_PROPERTY(url->host.find_first_of("/?#@\\ ") == std::string::npos,
                  "host carries no path, query, fragment, user information or space");
    const std::string origin = UrlOrigin(*url);
    const auto again = ParseHttpUrl(origin);
    FUZZ_PROPERTY(again && SameParse(*again, *url), "the origin parses back to the same parts");
    FUZZ_PROPERTY(UrlOrigin(*again) == origin, "the origin is canonical");
    if (IsLoopbackHost(url->host))
        FUZZ_PROPERTY(url->host == "127.0.0.1" || url->host == "localhost" || url->host == "[::1]",
                      "only the three loopback spellings count as this machine");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string builtIn(BuiltInWebBaseUrl());

    CheckParse(input);

    const std::string normal = NormalizeWebBaseUrl(input);
    FUZZ_PROPERTY(NormalizeWebBaseUrl(normal) == normal, "normalising twice equals once");
    if (normal == builtIn) return 0;

    const auto url = ParseHttpUrl(normal);
    FUZZ_PROPERTY(url.has_value(), "an accepted base URL parses");
    FUZZ_PROPERTY(url->scheme == "https" || IsLoopbackHost(url->host),
                  "an accepted base URL is never clear text to a remote host");
    FUZZ_PROPERTY(normal.back() != '/', "no trailing slash");
    FUZZ_PROPERTY(normal.find_first_of("?#\\ \t\r\n") == std::string::npos,
                  "no query, fragment, backslash or whitespace");
    FUZZ_PROPERTY(normal.find("..") == std::string::npos, "no parent steps");
    const std::string origin = UrlOrigin(*url);
    FUZZ_PROPERTY(normal.compare(0, origin.size(), origin) == 0 &&
                      (normal.size() == origin.size() || normal[origin.size()] == '/'),
                  "the text is the canonical origin followed by a path");

    // The manifest request goes to the base URL followed by its path; it must reach the same
    // server the settings name.
    const auto endpoint = ParseHttpUrl(normal + "/api/updates/manifest");
    FUZZ_PROPERTY(endpoint && SameParse(*endpoint, *url),
                  "an endpoint on the base URL keeps its scheme, host and port");
    return 0;
}

// The rules for the server base URL the client keeps in its settings: a strict http(s) URL
// parser, the loopback test, the origin builder and the normalisation that replaces anything
// unclean (or plain http to anything but this machine) by the built-in base URL. Pure text
// functions, the same on every build.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct ParsedHttpUrl {
    std::string scheme;  // "http" or "https"
    std::string host;    // ASCII lower-case; an IPv6 literal keeps its brackets
    uint16_t port = 0;   // 1 to 65535; the scheme's default when the text names none
};

// Scheme, host and port of an http(s) URL; the path is not part of the result.
std::optional<ParsedHttpUrl> ParseHttpUrl(std::string_view text);

// "127.0.0.1", "localhost" or "[::1]", in any ASCII case; nothing else.
bool IsLoopbackHost(std::string_view host);

// scheme://host, with ":port" only when the port is not the scheme's default.
std::string UrlOrigin(const ParsedHttpUrl& url);

// The origin followed by the path as written, without trailing '/'; BuiltInWebBaseUrl whenever the
// text is not acceptable. Never fails.
std::string NormalizeWebBaseUrl(std::string_view text);

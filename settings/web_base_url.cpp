#include "settings/web_base_url.h"

#include "common/build_info.h"
#include "common/text.h"

namespace {

constexpr size_t kLongestUrl = 4096;
constexpr size_t kLongestHostName = 253;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsHostNameChar(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.';
}
bool IsWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

uint16_t DefaultPort(std::string_view scheme) {
    return scheme == "https" ? 443 : 80;
}

bool HasOnlyVisibleBytes(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) return false;
    }
    return true;
}

std::optional<uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool IsValidHostName(std::string_view host) {
    if (host.empty() || host.size() > kLongestHostName) return false;
    if (host.front() == '.' || host.front() == '-' || host.back() == '.' || host.back() == '-')
        return false;
    for (char c : host)
        if (!IsHostNameChar(c)) return false;
    return host.find("..") == std::string_view::npos;
}

}  // namespace

std::optional<ParsedHttpUrl> ParseHttpUrl(std::string_view text) {
    if (text.empty() || text.size() > kLongestUrl || !HasOnlyVisibleBytes(text))
        return std::nullopt;
    const size_t schemeEnd = text.find("://");
    if (text.size() < 3 || schemeEnd == std::string_view::npos || schemeEnd == 0)
        return std::nullopt;
    ParsedHttpUrl url;
    url.scheme = AsciiLowerCopy(text.substr(0, schemeEnd));
    if (url.scheme != "http" && url.scheme != "https") return std::nullopt;

    const std::string_view rest = text.substr(schemeEnd + 3);
    if (rest.empty()) return std::nullopt;
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.empty()) return std::nullopt;
    if (authority.find_first_of("\\@") != std::string_view::npos) return std::nullopt;

    std::string_view host;
    std::string_view portText;
    bool hasPort = false;
    if (authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos || close < 2) return std::nullopt;
        for (char c : authority.substr(1, close - 1))
            if (!IsHexDigit(c) && c != ':') return std::nullopt;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':' || after.size() < 2) return std::nullopt;
            portText = after.substr(1);
            hasPort = true;
        }
    } else {
        const size_t colon = authority.find(':');
        if (colon != std::string_view::npos) {
            if (authority.find(':', colon + 1) != std::string_view::npos) return std::nullopt;
            host = authority.substr(0, colon);
            portText = authority.substr(colon + 1);
            if (host.empty() || portText.empty()) return std::nullopt;
            hasPort = true;
        } else {
            host = authority;
        }
        if (!IsValidHostName(host)) return std::nullopt;
    }
    url.host = AsciiLowerCopy(host);

    if (hasPort) {
        const auto port = ParsePort(portText);
        if (!port) return std::nullopt;
        url.port = *port;
    } else {
        url.port = DefaultPort(url.scheme);
    }
    return url;
}

bool IsLoopbackHost(std::string_view host) {
    const std::string lower = AsciiLowerCopy(host);
    return lower == "127.0.0.1" || lower == "localhost" || lower == "[::1]";
}

std::string UrlOrigin(const ParsedHttpUrl& url) {
    std::string origin = url.scheme + "://" + url.host;
    if (url.port != DefaultPort(url.scheme)) origin += ":" + std::to_string(url.port);
    return origin;
}

std::string NormalizeWebBaseUrl(std::string_view text) {
    const std::string fallback(BuiltInWebBaseUrl());
    while (!text.empty() && IsWhitespace(text.front())) text.remove_prefix(1);
    if (text.empty()) return fallback;
    while (!text.empty() && (IsWhitespace(text.back()) || text.back() == '/'))
        text.remove_suffix(1);
    if (text.empty()) return fallback;
    if (text.find_first_of("?#\\") != std::string_view::npos) return fallback;
    if (text.find("..") != std::string_view::npos) return fallback;

    const auto url = ParseHttpUrl(text);
    if (!url) return fallback;
    if (url->scheme == "http" && !IsLoopbackHost(url->host)) return fallback;

    const size_t authorityStart = text.find("://") + 3;
    const size_t pathStart = text.find('/', authorityStart);
    std::string out = UrlOrigin(*url);
    if (pathStart != std::string_view::npos) out.append(text.substr(pathStart));
    return out;
}

// Splitting a URL text into what an HTTP request needs: scheme security, host, port and the
// object name sent on the request line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct UrlParts {
    bool secure = false;  // https: the request is opened with TLS
    std::u16string host;  // as written in the URL
    uint16_t port = 0;    // from the URL, or the scheme's default
    std::u16string path;  // object name; "/" when the URL has none
};

// Accepts http and https URLs with a host of at most 255 and a path of at most 2047 UTF-16
// units. A query ("?...") stays part of `path` and is sent; a fragment ("#...") belongs to the
// reader of a page, not to the server, and is dropped before splitting. On false `parts` must
// not be used.
bool SplitUrl(std::string_view url, UrlParts& parts);

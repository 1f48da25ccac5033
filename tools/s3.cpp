#include "tools/s3.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "manifest/sha256.h"
#include "tools/bytes.h"

namespace {

// The SHA-256 of no bytes: the signed payload digest of a HEAD.
constexpr char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr size_t kKeptBodyBytes = 16384;

bool IsKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// S3's own bucket rule (3 to 63 lower-case letters, digits, dots and hyphens, a letter or digit at
// each end), which also keeps the name valid as a host name for virtual-hosted addressing.
bool IsBucketName(const std::string& name) {
    if (name.size() < 3 || name.size() > 63) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-'))
            return false;
    const auto end = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
    return end(name.front()) && end(name.back());
}

// Segments of url-rule characters, none empty or a dot-file: a key that needs no escaping,
// so the path libcurl signs is the path the store reads.
bool IsPrefix(const std::string& prefix) {
    size_t start = 0;
    while (start < prefix.size()) {
        const size_t slash = prefix.find('/', start);
        const std::string segment = prefix.substr(start, slash - start);
        if (segment.empty() || segment.front() == '.') return false;
        for (char c : segment)
            if (!IsKeyChar(c)) return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return true;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    CollectHeaderLine(std::string_view(data, size * count), static_cast<S3Answer*>(user)->headers);
    return size * count;
}

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    auto& answer = *static_cast<S3Answer*>(user);
    const size_t n = size * count;
    if (answer.body.size() < kKeptBodyBytes)
        answer.body.append(data, std::min(n, kKeptBodyBytes - answer.body.size()));
    return n;
}

// The body as it goes out, hashed on the way: the last piece is held back when the whole is not
// the bytes that were hashed before, so the store gets a body cut short and keeps nothing.
struct BodyReader {
    const S3Upload* upload = nullptr;
    uint64_t sent = 0;
    Sha256Hasher hasher;
    std::string seen;  // the SHA-256 of the body, once all of it was read
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
    auto& reader = *static_cast<BodyReader*>(user);
    const S3Upload& upload = *reader.upload;
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>(size * count, upload.size - std::min(upload.size, reader.sent)));
    if (want == 0) return 0;
    size_t n = want;
    if (upload.bytes == nullptr)
        n = fread(buffer, 1, want, upload.file);
    else if (upload.bytes->size() >= reader.sent + want)
        memcpy(buffer, upload.bytes->data() + reader.sent, want);
    else
        n = 0;
    // A file that ends early or cannot be read is not the file that was hashed either.
    if (n == 0 || !reader.hasher.Update(buffer, n)) return CURL_READFUNC_ABORT;
    reader.sent += n;
    if (reader.sent == upload.size) {
        reader.seen = reader.hasher.FinishHex();
        if (reader.seen != upload.sha256) return CURL_READFUNC_ABORT;
    }
    return n;
}

struct BodyHash {
    CURL* easy = nullptr;
    S3Answer* answer = nullptr;
    Sha256Hasher hasher;
};

size_t HashBody(char* data, size_t size, size_t count, void* user) {
    auto& sink = *static_cast<BodyHash*>(user);
    long status = 0;
    curl_easy_getinfo(sink.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return CollectBody(data, size, count, sink.answer);
    return sink.hasher.Update(data, size * count) ? size * count : 0;
}

int ReportProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
    const auto* upload = static_cast<const BodyReader*>(user)->upload;
    if (upload->progress) upload->progress(static_cast<uint64_t>(sent));
    return 0;
}

// The text of the first <tag> in an S3 error body.
std::string XmlField(const std::string& body, const std::string& tag) {
    const size_t start = body.find("<" + tag + ">");
    if (start == std::string::npos) return "";
    const size_t from = start + tag.size() + 2;
    const size_t end = body.find("</" + tag + ">", from);
    return end == std::string::npos ? "" : body.substr(from, end - from);
}

// One request: HEAD when nothing else is asked for.
struct Call {
    const S3Upload* upload = nullptr;   // PUT of this body
    const S3Upload* replace = nullptr;  // CopyObject onto itself with these headers
    BodyHash* hash = nullptr;           // GET, the body hashed
};

bool Perform(const S3Target& target, const std::string& key, const Call& call, S3Answer& answer) {
    const S3Upload* upload = call.upload ? call.upload : call.replace;
    BodyHash* hash = call.hash;
    answer = S3Answer{};
    CurlEasy easy(curl_easy_init());
    CurlList headers;
    char errorText[CURL_ERROR_SIZE] = {};
    if (!easy) {
        answer.detail = "libcurl could not start a request";
        return false;
    }
    const std::string url = ObjectUrl(target, key);
    const std::string sigv4 = "aws:amz:" + target.region + ":s3";
    const auto add = [&headers](const std::string& line) {
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    };
    // Signed by libcurl with the rest; the store checks the body against it.
    add("x-amz-content-sha256: " + (call.upload ? upload->sha256 : std::string(kEmptySha256)));
    if (!target.sessionToken.empty()) add("x-amz-security-token: " + target.sessionToken);
    BodyReader reader;
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_AWS_SIGV4, sigv4.c_str());
    curl_easy_setopt(e, CURLOPT_USERNAME, target.accessKey.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, target.secretKey.c_str());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 20L);
    // A store that stops answering for a minute has failed; a slow one is waited for.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CollectHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &answer);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer);
    if (!target.caFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, target.caFile.c_str());
    if (upload) {
        static const S3Upload kNoBody;
        reader.upload = call.upload ? call.upload : &kNoBody;
        reader.hasher.Open();
        if (!reader.hasher.ready ||
            (call.upload && !upload->bytes && fseeko(upload->file, 0, SEEK_SET) != 0)) {
            answer.detail = "cannot read the body from its start";
            return false;
        }
        add("Content-Type: " + upload->contentType);
        add("Cache-Control: " + upload->cacheControl);
        add("x-amz-meta-sha256: " + upload->sha256);
        if (call.upload && upload->onlyIfAbsent) add("If-None-Match: *");
        if (call.replace) {
            // Our keys need no escaping (ParseS3Target and the served paths see to that).
            add("x-amz-copy-source: /" + target.bucket + "/" + target.prefix + key);
            add("x-amz-metadata-directive: REPLACE");
        }
        curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(reader.upload->size));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, &ReadBody);
        curl_easy_setopt(e, CURLOPT_READDATA, &reader);
        curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, 1L << 20);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &ReportProgress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, &reader);
    } else if (hash) {
        hash->easy = e;
        hash->answer = &answer;
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HashBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, hash);
    } else {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    const CURLcode result = curl_easy_perform(e);
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &answer.status);
    // A refusal may come before the body went out; a success must have had all of it, as hashed.
    const bool stored = result == CURLE_OK && answer.status >= 200 && answer.status < 300;
    if (call.upload && (result == CURLE_ABORTED_BY_CALLBACK || stored) &&
        reader.seen != upload->sha256) {
        answer.status = 0;
        answer.detail = reader.sent < upload->size
                            ? "the file ended or could not be read after " +
                                  std::to_string(reader.sent) + " of its " +
                                  std::to_string(upload->size) +
                                  " bytes, so it is not the file "
                                  "that was checked; its upload was cut off "
                                  "(changed_while_sending)"
                            : "the bytes read to send have SHA-256 " + reader.seen + ", not the " +
                                  upload->sha256 +
                                  " checked: the file changed since; its upload "
                                  "was cut off before its last byte (changed_while_sending)";
        return false;
    }
    if (result != CURLE_OK) {
        answer.status = 0;
        answer.detail = errorText[0] ? errorText : curl_easy_strerror(result);
        return false;
    }
    return true;
}

}  // namespace

bool IsLoopbackHost(const std::string& hostAndPort) {
    std::string host = hostAndPort;
    if (!host.empty() && host.front() == '[')
        return host.rfind("[::1]", 0) == 0 && (host.size() == 5 || host[5] == ':');
    host = Lower(host.substr(0, host.find(':')));
    if (host == "localhost") return true;
    // Four decimal parts, the first 127: never a name that merely starts like one.
    int parts[4] = {}, count = 0;
    char tail = 0;
    if (std::sscanf(host.c_str(), "%3d.%3d.%3d.%3d%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &tail) != 4)
        return false;
    for (int part : parts) count += part >= 0 && part <= 255;
    return count == 4 && parts[0] == 127 &&
           host.find_first_not_of("0123456789.") == std::string::npos;
}

bool ParseS3Target(const std::string& to, const std::string& endpoint, bool allowHttp,
                   S3Target& target, std::string& error) {
    if (to.rfind("s3://", 0) != 0) {
        error = "--to must be s3://<bucket>[/<prefix>], got \"" + to + "\"";
        return false;
    }
    const std::string rest = to.substr(5);
    const size_t slash = rest.find('/');
    target.bucket = rest.substr(0, slash);
    std::string prefix = slash == std::string::npos ? "" : rest.substr(slash + 1);
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    if (!IsBucketName(target.bucket)) {
        error = "\"" + target.bucket +
                "\" is not a bucket name (3 to 63 characters: a-z 0-9 . -, a letter or digit at "
                "each end)";
        return false;
    }
    if (!IsPrefix(prefix)) {
        error = "the prefix \"" + prefix +
                "\" must be segments of A-Z a-z 0-9 . _ - separated by /, none starting with a dot";
        return false;
    }
    target.prefix = prefix.empty() ? "" : prefix + "/";
    const size_t scheme = endpoint.find("://");
    target.scheme = scheme == std::string::npos ? "" : Lower(endpoint.substr(0, scheme));
    std::string host = scheme == std::string::npos ? "" : endpoint.substr(scheme + 3);
    while (!host.empty() && host.back() == '/') host.pop_back();
    if ((target.scheme != "https" && target.scheme != "http") || host.empty() ||
        host.find_first_of("/?#@ ") != std::string::npos) {
        error =
            "--endpoint must be an https:// (or http://) URL of the store's host, without a "
            "path, got \"" +
            endpoint + "\"";
        return false;
    }
    if (target.scheme == "http" && !allowHttp && !IsLoopbackHost(host)) {
        error = "--endpoint " + endpoint +
                " is plain HTTP: the signed requests and any session token would cross the "
                "network in clear, and anyone on the path could answer for the store. Use "
                "https://, or give --allow-http for a store on a network you trust "
                "(plain_http_refused)";
        return false;
    }
    target.host = host;
    return true;
}

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
}

// The AWS tools' shared file, or its place in the home folder.
std::string AwsFile(const char* variable, const char* name) {
    const std::string given = Env(variable);
    if (!given.empty()) return given;
    const std::string home = Env("HOME");
    return home.empty() ? std::string() : home + "/.aws/" + name;
}

// The `key = value` lines of one [section] of an INI file as the AWS tools write it; nothing when
// the file or the section is missing.
std::map<std::string, std::string> IniSection(const std::string& path, const std::string& section) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        const std::string text(Trim(line));
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        if (text.front() == '[' && text.back() == ']') {
            inside = Trim(std::string_view(text).substr(1, text.size() - 2)) == section;
        } else if (const size_t equals = text.find('='); inside && equals != std::string::npos) {
            values[Lower(Trim(std::string_view(text).substr(0, equals)))] =
                std::string(Trim(std::string_view(text).substr(equals + 1)));
        }
    }
    return values;
}

}  // namespace

bool CredentialsFromEnvironment(const std::string& regionOption, S3Target& target,
                                std::string& error) {
    target.accessKey = Env("AWS_ACCESS_KEY_ID");
    target.secretKey = Env("AWS_SECRET_ACCESS_KEY");
    target.sessionToken = Env("AWS_SESSION_TOKEN");
    std::string profile = Env("AWS_PROFILE");
    if (profile.empty()) profile = "default";
    // As the AWS tools do: the environment's pair when it has one, else the profile's.
    const std::string credentialsFile = AwsFile("AWS_SHARED_CREDENTIALS_FILE", "credentials");
    if (target.accessKey.empty() && target.secretKey.empty() && !credentialsFile.empty()) {
        auto keys = IniSection(credentialsFile, profile);
        target.accessKey = keys["aws_access_key_id"];
        target.secretKey = keys["aws_secret_access_key"];
        target.sessionToken = keys["aws_session_token"];
    }
    if (target.accessKey.empty() || target.secretKey.empty()) {
        error =
            "set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY in the environment (and "
            "AWS_SESSION_TOKEN for temporary credentials), or give profile " +
            profile + " both keys in " +
            (credentialsFile.empty() ? "~/.aws/credentials" : credentialsFile) +
            "; they are never taken from the command line";
        return false;
    }
    target.region = regionOption;
    if (target.region.empty()) target.region = Env("AWS_REGION");
    if (target.region.empty()) target.region = Env("AWS_DEFAULT_REGION");
    if (const std::string config = AwsFile("AWS_CONFIG_FILE", "config");
        target.region.empty() && !config.empty()) {
        target.region =
            IniSection(config, profile == "default" ? profile : "profile " + profile)["region"];
    }
    if (target.region.empty()) target.region = "us-east-1";
    return true;
}

std::string EndpointFromEnvironment() {
    const std::string s3 = Env("AWS_ENDPOINT_URL_S3");
    return s3.empty() ? Env("AWS_ENDPOINT_URL") : s3;
}

std::string ObjectUrl(const S3Target& target, const std::string& key) {
    const std::string path = target.prefix + key;
    return target.virtualHost
               ? target.scheme + "://" + target.bucket + "." + target.host + "/" + path
               : target.scheme + "://" + target.host + "/" + target.bucket + "/" + path;
}

std::string DescribeAnswer(const S3Answer& answer) {
    if (answer.status == 0) return answer.detail;
    std::string text = std::to_string(answer.status);
    const std::string code = XmlField(answer.body, "Code");
    const std::string message = XmlField(answer.body, "Message");
    if (!code.empty()) text += " " + code;
    if (!message.empty()) text += ": " + message;
    return text;
}

bool S3Head(const S3Target& target, const std::string& key, S3Answer& answer) {
    return Perform(target, key, Call{}, answer);
}

bool S3ReadSha256(const S3Target& target, const std::string& key, std::string& sha256,
                  S3Answer& answer) {
    BodyHash hash;
    hash.hasher.Open();
    if (!hash.hasher.ready) {
        answer.detail = "no SHA-256 provider";
        return false;
    }
    Call call;
    call.hash = &hash;
    if (!Perform(target, key, call, answer) || answer.status != 200) return false;
    sha256 = hash.hasher.FinishHex();
    return !sha256.empty();
}

bool S3Put(const S3Target& target, const std::string& key, const S3Upload& upload,
           S3Answer& answer) {
    Call call;
    call.upload = &upload;
    return Perform(target, key, call, answer);
}

bool S3ReplaceHeaders(const S3Target& target, const std::string& key, const S3Upload& headers,
                      S3Answer& answer) {
    Call call;
    call.replace = &headers;
    if (!Perform(target, key, call, answer)) return false;
    return answer.status == 200 && answer.body.find("<CopyObjectResult") != std::string::npos &&
           answer.body.find("<Error>") == std::string::npos;
}

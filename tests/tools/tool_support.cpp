#include "tests/tools/tool_support.h"

#include <curl/curl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "manifest/sha256.h"
#include "tools/publish.h"

namespace fs = std::filesystem;

const std::string kDevPemPath =
    std::string(VARNOK_SOURCE_DIR) + "/tests/fixtures/dev-manifest-key.NOT-FOR-RELEASE.pem";

std::string DevPem() {
    return ReadFileBytes(kDevPemPath);
}

std::string DevPublicHex() {
    std::string hex =
        ReadFileBytes(std::string(VARNOK_SOURCE_DIR) + "/tests/fixtures/dev-manifest-key.pub.hex");
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return hex;
}

UpdateManifest VerifyBody(const std::string& body, const std::string& key, int64_t now,
                          const std::string& base) {
    UpdateManifest m;
    VerifyUpdateManifest(body.data(), body.size(), 0, 0, base, m, key.data(), key.size(), 0, now);
    return m;
}

ToolRun RunTool(const ScratchDir& dir, const std::string& arguments) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string command = std::string("'") + VARNOK_PUBLISH_EXE + "' " + arguments + " >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(out), ReadFileBytes(err)};
}

int64_t UnixNow() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::string LauncherManifest(const std::string& publishedAt, const std::string& schema,
                             const std::string& url) {
    std::string text = "{\"schema_version\": " + schema + ", \"launcher_build\": 3";
    if (!publishedAt.empty()) text += ", \"published_at\": " + publishedAt;
    if (!url.empty())
        text += ", \"launcher\": {\"file_id\": \"c\", \"url\": \"" + url +
                "\", \"size_bytes\": 9, \"sha256\": "
                "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"}";
    return text + "}";
}

std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ClientBytes(size_t size, int seed) {
    std::string bytes = "MZ";
    for (size_t i = 2; i < size; ++i)
        bytes.push_back(static_cast<char>(i * 7 + static_cast<size_t>(seed) * 131 + (i >> 11)));
    return bytes;
}

std::string Sha256Of(const std::string& bytes) {
    Sha256Hasher hasher;
    hasher.Open();
    if (!hasher.ready || (!bytes.empty() && !hasher.Update(bytes.data(), bytes.size()))) return {};
    return hasher.FinishHex();
}

std::string ServedName(const std::string& version, const std::string& bytes) {
    return "VarnokClient-" + version + "-" + Sha256Of(bytes).substr(0, 16) + ".exe";
}

bool PublishBytes(const ScratchDir& dir, const std::string& version, uint64_t build,
                  const std::string& bytes, std::string& error, std::string* served, int64_t now) {
    WriteFileBytes(dir / "client.exe", bytes);
    return PublishClient({kDevPemPath, (dir / "client.exe").string(), version, build,
                          (dir / "tree").string(), kNow, now},
                         error, served);
}

namespace {

size_t Keep(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

}  // namespace

Control Ask(const std::string& url, const std::string* body,
            const std::vector<std::string>& headers) {
    Control answer;
    CURL* easy = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& h : headers) list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Keep);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer.body);
    if (body) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    }
    if (curl_easy_perform(easy) == CURLE_OK)
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(easy);
    return answer;
}

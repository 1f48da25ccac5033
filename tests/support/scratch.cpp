#include "tests/support/scratch.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>

#include "common/text.h"

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string name = "varnok-test-" + std::to_string(rd()) + "-" +
                             std::to_string(stamp % 1000000) + "-" + std::to_string(counter++);
    path_ = fs::temp_directory_path() / name;
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    RemoveTreeNoFollow(path_);
}

std::string ScratchDir::Utf8() const {
    return Utf16ToUtf8(path_.u16string());
}
std::string ScratchDir::Utf8(const fs::path& name) const {
    return Utf16ToUtf8((path_ / name).u16string());
}

void WriteFileBytes(const fs::path& file, const std::string& bytes) {
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#include "tools/key_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/scope_exit.h"
#include "tools/bytes.h"
#include "tools/keys.h"

namespace fs = std::filesystem;

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done = write(fd, bytes.data(), bytes.size());
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(done));
    }
    return true;
}

// A secret file must be this user's own and out of others' reach: one another user owns, or
// may write, could be swapped for theirs (a PIN file so changed could make the token count
// wrong tries until it locks). Judged on what was opened.
bool IsOwnPrivateFile(const std::string& path, const struct stat& status, std::string& error) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    const std::string user = std::to_string(geteuid());
    if (status.st_uid != geteuid()) {
        error = path + " belongs to another user (uid " + std::to_string(status.st_uid) +
                ", this user is " + user + "); make it yours: chown " + user + " " + path;
        return false;
    }
    if (status.st_mode & (S_IRGRP | S_IROTH)) {
        error = path + " can be read by other users (mode " + mode +
                "); make it yours alone: chmod 600 " + path;
        return false;
    }
    if (status.st_mode & (S_IWGRP | S_IWOTH)) {
        error = path + " can be changed by other users (mode " + mode +
                "); make it yours alone: chmod go-w " + path;
        return false;
    }
    return true;
}

// The regular file at `path`, read straight into `bytes`: sized once from the open file, with no
// stream buffer and no string grown on the way, so no copy of what it holds is left in memory
// given back. The file's type (and, for a secret, who may read it) is judged on what was opened.
bool ReadInto(const std::string& path, bool secret, std::string& bytes, std::string& error) {
    WipeSecret(bytes);
    // Never blocks on a pipe or a device in the file's place; a regular file reads as usual.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    ScopeExit closeFile([fd] { close(fd); });
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = "cannot read " + path + ": not a regular file";
        return false;
    }
    if (secret && !IsOwnPrivateFile(path, status, error)) return false;
    // One byte more than the size shows a file that grew while it was read.
    const size_t size = static_cast<size_t>(status.st_size);
    bytes.resize(size + 1);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = read(fd, &bytes[done], bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            WipeSecret(bytes);
            return false;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    if (done > size) {
        error = "cannot read " + path + ": it grew while it was read";
        WipeSecret(bytes);
        return false;
    }
    bytes.resize(done);  // shorter when it shrank meanwhile; never moves the buffer
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    return ReadInto(path, false, bytes, error);
}

bool ReadSecretFile(const std::string& path, std::string& bytes, std::string& error) {
    return ReadInto(path, true, bytes, error);
}

int CreateNewFile(const std::string& path, mode_t mode, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        const int code = errno;
        error = "cannot create " + path + ": " + std::strerror(code);
        if (code == EEXIST) error += "; an existing file is never overwritten";
        return -1;
    }
    // The umask may only have narrowed the mode; make it exact.
    if (fchmod(fd, mode) != 0) {
        error = "cannot set the mode of " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return -1;
    }
    return fd;
}

bool FinishFile(int fd, std::string_view bytes) {
    const bool written = WriteAll(fd, bytes) && fsync(fd) == 0;
    return close(fd) == 0 && written;
}

bool WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode,
                  std::string& error) {
    const int fd = CreateNewFile(path, mode, error);
    if (fd < 0) return false;
    if (!FinishFile(fd, bytes)) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool CopyToNewFile(const std::string& from, const std::string& to, std::string& error) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = "cannot read " + from + ": " + std::strerror(errno);
        return false;
    }
    const int out = CreateNewFile(to, 0644, error);
    if (out < 0) {
        close(in);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        if (!WriteAll(out, std::string_view(buffer.data(), static_cast<size_t>(got)))) {
            ok = false;
            break;
        }
    }
    close(in);
    if (!FinishFile(out, {}) || !ok) {
        error = "cannot copy " + from + " to " + to;
        unlink(to.c_str());
        return false;
    }
    return true;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsSymbolicLink(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

std::string FolderOf(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

bool SyncFolder(const std::string& folder, std::string& error) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
        error = "cannot flush the folder " + folder + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    close(fd);
    return true;
}

bool (*g_syncFolder)(const std::string& folder, std::string& error) = &SyncFolder;

bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode, std::string& error) {
    const std::string name = fs::path(path).filename().string();
    if (name.empty() || name == "." || name == "..") {
        error = path + " does not name a file";
        return false;
    }
    // A dot first and the process id: no served name, and no other writer's temporary.
    const std::string folder = FolderOf(path);
    const std::string temporary =
        (fs::path(folder) / ("." + name + "." + std::to_string(getpid()) + ".tmp")).string();
    unlink(temporary.c_str());
    if (!WriteNewFile(temporary, bytes, mode, error)) return false;
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot move " + temporary + " to " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return g_syncFolder(folder, error);
}

bool WriteNewKeyFiles(const ManifestKeyPair& pair, const std::string& privatePath,
                      const std::string& publicPath, std::string& error) {
    if (privatePath.empty()) {
        error = "no path for the private key";
        return false;
    }
    std::error_code ec;
    if (!publicPath.empty() &&
        (privatePath == publicPath || fs::absolute(privatePath, ec).lexically_normal() ==
                                          fs::absolute(publicPath, ec).lexically_normal())) {
        error = "--out and --pub name the same file; the public key would replace the private one";
        return false;
    }
    // Both files are claimed before either is written, so a second one that cannot be made
    // leaves no lone private key whose public half nobody recorded.
    const int privateFd = CreateNewFile(privatePath, 0600, error);
    if (privateFd < 0) return false;
    int publicFd = -1;
    if (!publicPath.empty()) {
        publicFd = CreateNewFile(publicPath, 0644, error);
        if (publicFd < 0) {
            close(privateFd);
            unlink(privatePath.c_str());
            return false;
        }
    }
    const bool privateOk = FinishFile(privateFd, pair.privatePem);
    const bool publicOk = publicFd < 0 || FinishFile(publicFd, pair.publicHex + "\n");
    if (!privateOk || !publicOk) {
        error = "cannot write " + (privateOk ? publicPath : privatePath);
    } else if (g_syncFolder(FolderOf(privatePath), error) &&
               (publicPath.empty() || g_syncFolder(FolderOf(publicPath), error))) {
        // The key that every installer will pin must not be lost to a power cut after the
        // publisher has already copied its public half into a build.
        return true;
    }
    unlink(privatePath.c_str());
    if (publicFd >= 0) unlink(publicPath.c_str());
    return false;
}

bool WriteNewPublicKeyFile(const std::string& path, const std::string& publicHex,
                           std::string& error) {
    if (!WriteNewFile(path, publicHex + "\n", 0644, error)) return false;
    if (g_syncFolder(FolderOf(path), error)) return true;
    unlink(path.c_str());
    return false;
}

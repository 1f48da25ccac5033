// The publisher's files on disk (POSIX): files made new for one call, never opened through a link
// or over an existing file, and complete on disk before anyone can see them.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

struct ManifestKeyPair;

// The whole file at `path`, which must be a regular file, read without leaving a copy of it in
// freed memory; `bytes` is wiped first and on failure.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);

// ReadWholeFile for a file that holds a secret: refused, naming the fix, when another user owns
// it (not the process's effective user) or the group or other users may read or write it.
bool ReadSecretFile(const std::string& path, std::string& bytes, std::string& error);

// A file made for this call alone, with exactly `mode`: an existing file, or a link where the file
// would be, is never opened. The descriptor, or -1 with the reason in `error`.
int CreateNewFile(const std::string& path, mode_t mode, std::string& error);

// Writes everything, flushes it to the disk and closes `fd` on every path.
bool FinishFile(int fd, std::string_view bytes);

// `bytes` as a new file, complete on disk before it is ever renamed into view; nothing is left
// behind when it cannot be written whole.
bool WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode, std::string& error);

// A copy of `from` as the new file `to` (mode 0644), flushed to the disk.
bool CopyToNewFile(const std::string& from, const std::string& to, std::string& error);

// True when both paths name one existing file (the same device and inode), whatever their
// spelling and whatever links lie on the way.
bool IsSameFile(const std::string& a, const std::string& b);

// True when `path` itself is a symbolic link (dangling or not).
bool IsSymbolicLink(const std::string& path);

// The folder that holds `path` ("." for a bare name).
std::string FolderOf(const std::string& path);

// Flushes a folder's own entries (names made, renamed or removed in it) to the disk, so a file
// that was flushed cannot vanish with its name after a power loss. Tests swap in a failing one.
bool SyncFolder(const std::string& folder, std::string& error);
extern bool (*g_syncFolder)(const std::string& folder, std::string& error);

// Puts `bytes` at `path` in one step: a new file under a temporary name in the same folder,
// flushed, renamed over `path`, and the folder flushed. A reader sees the old file or the new one;
// a link at `path` is replaced by the rename, never written through. On failure `path` is as it
// was and no temporary file is left.
bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode, std::string& error);

// The public hex and a newline as a new file (an existing file or a link is never opened), its
// folder flushed; nothing is left behind on failure.
bool WriteNewPublicKeyFile(const std::string& path, const std::string& publicHex,
                           std::string& error);

// Writes a fresh pair: the private PEM to `privatePath` with mode 0600 and, when `publicPath` is
// not empty, the public hex and a newline to it. Each file is created new: an existing file or a
// link in its place is never opened, and the two paths must differ. When either file cannot be
// made whole, neither is left behind. The folders that hold them are flushed before it returns.
bool WriteNewKeyFiles(const ManifestKeyPair& pair, const std::string& privatePath,
                      const std::string& publicPath, std::string& error);

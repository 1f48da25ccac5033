// The publisher's files on disk (POSIX): files made new for one call, never opened through a link
// or over an existing file, and complete on disk before anyone can see them.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

struct ManifestKeyPair;

// The whole file at `path`, which must be a regular file.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);

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

// Writes a fresh pair: the private PEM to `privatePath` with mode 0600 and, when `publicPath` is
// not empty, the public hex and a newline to it. Each file is created new: an existing file or a
// link in its place is never opened, and the two paths must differ. When either file cannot be
// made whole, neither is left behind.
bool WriteNewKeyFiles(const ManifestKeyPair& pair, const std::string& privatePath,
                      const std::string& publicPath, std::string& error);

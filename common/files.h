// The installer's own file operations on Windows-form UTF-16 paths, through the system's file
// calls. The Windows build keeps iostreams and std::filesystem out of the executable; the host
// build answers the same questions with POSIX calls, reading "Z:\x" as "/x".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/unique_handle.h"

// An open file, owned: the system's handle on Windows, a descriptor elsewhere.
#ifdef _WIN32
using FileDescriptor = void*;
#else
using FileDescriptor = int;
#endif
FileDescriptor NoFileDescriptor();
void CloseFileDescriptor(FileDescriptor file);
using FileOwner = UniqueHandle<FileDescriptor, &CloseFileDescriptor, &NoFileDescriptor>;

// Opens an existing file for reading, shared with readers, writers and deleters alike, so a file
// that someone else holds open still reads. An empty owner when it cannot be opened.
FileOwner OpenFileForReading(std::u16string_view path);

// Creates the file, or empties an existing one, for writing (shared with readers and writers).
// Nothing is buffered on our side: each write reaches the system at once, so a full disk shows
// at the write that met it. An empty owner and the system's number on failure.
FileOwner CreateFileForWriting(std::u16string_view path, uint32_t& error);

// Up to `size` bytes; `got` 0 at the end of the file. False on a read error.
bool ReadFromFile(const FileOwner& file, void* buffer, size_t size, size_t& got);

// All `size` bytes, or false with the system's number.
bool WriteToFile(const FileOwner& file, const void* data, size_t size, uint32_t& error);

// Everything written so far is on the disk; false (with the system's number) when not.
bool FlushFile(const FileOwner& file, uint32_t& error);

// Who may use `folder`, and every parent made on the way, when CreateFolderTree makes them. A
// folder that already exists keeps whatever it had (see MakeFolderPrivate).
enum class NewFolderAccess {
    Inherited,  // what the parent passes on
    // Full control for the current user, SYSTEM and the Administrators group only, inherited by
    // everything inside and nothing inherited from above (0700 on the host), so other users of
    // the machine cannot replace what is put there.
    Private,
};

// Creates `folder` and every missing parent. An existing folder is no error; `made`, when given,
// tells whether this call made `folder` itself. On failure `error` holds the system's error
// number (ERROR_ALREADY_EXISTS when a file stands in the way).
bool CreateFolderTree(std::u16string_view folder, uint32_t& error,
                      NewFolderAccess access = NewFolderAccess::Inherited, bool* made = nullptr);

// Gives a folder that already exists the list a Private folder gets when it is made, in place of
// the one it had; on Windows what is inside and inherits takes it too. False with the system's
// number when the list cannot be set (only the folder's owner and administrators may).
bool MakeFolderPrivate(std::u16string_view folder, uint32_t& error);

// Who owns a folder, as far as trusting what is put into it goes.
enum class FolderOwner {
    CurrentUser,
    System,          // the machine's own account (root on the host)
    Administrators,  // the Administrators group
    OtherUser,       // anyone else
    NoOwners,        // a volume that keeps no owners or lists at all (FAT, exFAT)
};

struct FolderOwnerAnswer {
    bool ok = false;  // false: the owner could not be read; `error` holds the system's number
    FolderOwner owner = FolderOwner::OtherUser;
    uint32_t error = 0;
};

// The owner of the folder itself, a link in its place not followed. A replaceable function with
// the system's answer as its default, so tests can give fixed answers.
using FolderOwnerFn = FolderOwnerAnswer (*)(const std::u16string& folder);
extern FolderOwnerFn g_folderOwner;

// What a found folder lets others do, for a folder that is not the user's own. The trusted are
// the user, SYSTEM, the Administrators group and TrustedInstaller (on the host: the user and
// root); everyone else is another user.
struct FolderCheckAnswer {
    bool ok = false;     // false: the folder could not be read; `error` holds the system's number
    bool found = false;  // what was asked about is there
    uint32_t error = 0;
};
using FolderCheckFn = FolderCheckAnswer (*)(const std::u16string& folder);
// Whether the folder's own list lets another user add, remove or replace what is in it, or change
// the list (on the host: a group or other write bit).
extern FolderCheckFn g_folderWritableByOthers;
// Whether the folder holds a file, folder or link (itself, not what it leads to) that another user
// owns. Only the folder's own entries are looked at.
extern FolderCheckFn g_folderHoldsOthersEntry;

// Removes one file; false when it is missing or cannot be removed.
bool RemoveFile(std::u16string_view path);

// Puts `from` in the place of `to` in one step, replacing an existing `to`. A `to` that another
// process holds open (a running executable) makes it fail at once rather than wait; `from` then
// stays where it was. On failure `error` holds the system's error number.
bool MoveFileReplacing(std::u16string_view from, std::u16string_view to, uint32_t& error);

// Copies `from` over `to`, replacing an existing file.
bool CopyFileOver(std::u16string_view from, std::u16string_view to);

// Removes `folder` with everything below it, bottom-up. A link or junction met on the way (or
// `folder` itself when it is one) is removed as itself and never entered, so the walk cannot
// leave the tree it was given. False when anything could not be removed; the rest still goes.
bool RemoveFolderTree(std::u16string_view folder);

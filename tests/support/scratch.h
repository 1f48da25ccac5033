// A private scratch folder per test, removed afterwards without ever following a link out of it.
#pragma once

#include <filesystem>
#include <string>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }
    // The folder as UTF-8 text, the form the folder rules and settings take.
    std::string Utf8() const;
    std::string Utf8(const std::filesystem::path& name) const;

private:
    std::filesystem::path path_;
};

// Writes bytes to a file, creating its parent folders.
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
std::string ReadFileBytes(const std::filesystem::path& file);

// Removes a tree; links and junctions are removed themselves, never descended into.
void RemoveTreeNoFollow(const std::filesystem::path& root);

// True in a Windows test process that Wine runs: where Wine differs from Windows, a test says so
// by name instead of passing silently.
bool RunningUnderWine();

// Who the system lets use a folder: its access list as SDDL ("D:P(A;OICI;FA;;;SY)...") on
// Windows, its permission bits ("700") on the host.
std::string FolderAccess(const std::filesystem::path& folder);

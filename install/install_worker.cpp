#include "install/install_worker.h"

#include "common/files.h"
#include "common/text.h"
#include "game/local_folder.h"

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

}  // namespace

bool LooksLikeClientExe(std::string_view head, uint64_t announcedSize) {
    return head.size() >= 2 && head[0] == 'M' && head[1] == 'Z' &&
           announcedSize >= kMinClientExeBytes;
}

bool SamePathLexically(std::u16string_view a, std::u16string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsSeparator(a[i]) && IsSeparator(b[j])) {
            while (i < a.size() && IsSeparator(a[i])) ++i;
            while (j < b.size() && IsSeparator(b[j])) ++j;
            continue;
        }
        if (a[i] != b[j]) return false;
        ++i;
        ++j;
    }
    return i == a.size() && j == b.size();
}

bool CreateInstallFolder(std::u16string_view folder, Failure& failure) {
    uint32_t error = 0;
    bool made = false;
    if (!CreateFolderTree(folder, error, NewFolderAccess::Private, &made)) {
        SetFailure(failure, "folder_not_created", error);
        return false;
    }
    if (!IsAcceptableLocalFolder(Utf16ToUtf8(folder), true)) {
        SetFailure(failure, "folder_refused_after_creation");
        return false;
    }
    // Made just now, left by an earlier install, or made by someone else between the check and
    // the create: whoever owns the folder can replace the client and the uninstaller in it, which
    // run as this user. An owner that cannot be read is treated as a stranger.
    const FolderOwnerAnswer owner = g_folderOwner(std::u16string(folder));
    if (!owner.ok) {
        SetFailure(failure, "folder_owner_unknown", owner.error);
        return false;
    }
    const std::u16string path(folder);
    switch (owner.owner) {
        case FolderOwner::OtherUser:
            SetFailure(failure, "folder_owned_by_other_user");
            return false;
        case FolderOwner::NoOwners:
            return true;  // a volume without owners has no list to give
        case FolderOwner::System:
        case FolderOwner::Administrators: {
            // The machine's administrators chose its list, and the user may not change it; but
            // a list that lets other users write (a folder an elevated administrator made under
            // a drive root inherits one) lets them replace the client as surely as owning it.
            const FolderCheckAnswer open = g_folderWritableByOthers(path);
            if (!open.ok) {
                SetFailure(failure, "folder_access_unknown", open.error);
                return false;
            }
            if (open.found) {
                SetFailure(failure, "folder_writable_by_other_user");
                return false;
            }
            break;
        }
        case FolderOwner::CurrentUser:
            break;
    }
    // A found folder may hold what another user put there while it was open to them (a library
    // beside the client would run inside it); closing the folder now would not take it out.
    if (!made) {
        const FolderCheckAnswer planted = g_folderHoldsOthersEntry(path);
        if (!planted.ok) {
            SetFailure(failure, "folder_entry_owner_unknown", planted.error);
            return false;
        }
        if (planted.found) {
            SetFailure(failure, "folder_holds_other_users_entry");
            return false;
        }
    }
    if (owner.owner != FolderOwner::CurrentUser) return true;
    // Made here, it has the list already; found, it may be from an install that left it open
    // to everyone, and is closed now.
    if (made || MakeFolderPrivate(folder, error)) return true;
    SetFailure(failure, "folder_not_made_private", error);
    return false;
}

#include "app/command_line.h"

#include <windows.h>

#include "common/handles_win.h"

bool RunsAsLocalSystem() {
    UniqueHandleKernel token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    // TOKEN_USER is followed by the SID it points at; SECURITY_MAX_SID_SIZE bounds that.
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return false;
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer);
    return IsWellKnownSid(user->User.Sid, WinLocalSystemSid) != FALSE;
}

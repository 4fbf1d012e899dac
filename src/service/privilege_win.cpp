#ifdef _WIN32

#include "service/privilege_win.h"

#include <windows.h>
// Needs the types of windows.h, so it comes second.
#include <shellapi.h>

#ifdef _WIN64
static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "SHELLEXECUTEINFOW layout");
#endif

namespace PrivilegeWin {

bool processIsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation {};
    DWORD size = 0;
    const BOOL read
        = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    return read && elevation.TokenIsElevated != 0;
}

unsigned long runElevated(const wchar_t *file, const wchar_t *parameters)
{
    SHELLEXECUTEINFOW info {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info))
        return 0;
    return GetLastError();
}

} // namespace PrivilegeWin

#endif

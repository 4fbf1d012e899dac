#pragma once

// The Win32 side of privilege elevation, free of Qt so that it can be checked with a cross
// compiler.
#ifdef _WIN32

namespace PrivilegeWin {

// Whether the current process token is elevated; false when the token cannot be read.
bool processIsElevated();

// Starts `file` with `parameters` through the elevation prompt ("runas"). Returns 0 once the new
// process runs, otherwise the system error code (1223 when the user declined).
unsigned long runElevated(const wchar_t *file, const wchar_t *parameters);

} // namespace PrivilegeWin

#endif

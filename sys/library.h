// Libraries loaded at run time by name, and their exports resolved by name.
// On Windows these are DLLs (LoadLibraryA, GetProcAddress, FreeLibrary). On
// POSIX the only library is the C library's sockets behind Winsock-shaped
// adapters, which answers to the Winsock library names "WS2_32.DLL",
// "WSOCK32.DLL" and "WSOCK32N.DLL" (in any case).
#pragma once

namespace volsten {

using SysLibrary = void*;

// Null when no library of that name loads.
SysLibrary sysLibraryLoad(const char* name);
// The address of the export, or null when the library has none by that name.
void* sysLibraryExport(SysLibrary library, const char* name);
void sysLibraryFree(SysLibrary library);

}  // namespace volsten

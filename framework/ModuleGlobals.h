// Values recorded once when the module is loaded.
#ifndef QUILLON_MODULE_GLOBALS_H
#define QUILLON_MODULE_GLOBALS_H

#include <windows.h>

// The module's instance handle: windows, dialogs and resources come from it.
extern HINSTANCE ModuleInstance;
// Operating system platform identifier; 1 until the version query succeeds,
// 2 (VER_PLATFORM_WIN32_NT) selects wide-character resource loading.
extern DWORD PlatformId;

#endif

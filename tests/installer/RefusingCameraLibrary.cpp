// A camera library that refuses to load. A module beside it that imports it
// cannot load either, so registering that module fails, as it does when the
// vendor's library cannot start: the installer tests use it for their rollback.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    return reason != DLL_PROCESS_ATTACH;
}

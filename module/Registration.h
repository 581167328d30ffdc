// Writing and removing the module's registry entries and filter registrations.
#ifndef QUILLON_REGISTRATION_H
#define QUILLON_REGISTRATION_H

#include <windows.h>

// Writes (or removes) the server keys of every class and the filter's
// default-category registration with the filter mapper.
HRESULT RegisterModule(bool registering);
HRESULT UpdateServerKeys(const wchar_t* modulePath, bool registering);
HRESULT WriteServerKeys(const CLSID& classId, const wchar_t* name, const wchar_t* modulePath,
                        const wchar_t* threadingModel, const wchar_t* serverKind);
HRESULT RemoveServerKeys(const CLSID& classId);
// Deletes a key with all its subkeys. A subkey that cannot be deleted ends
// the walk; what is left stays. S_OK unless the name is empty.
HRESULT DeleteKeyTree(HKEY parent, const char* name);

#endif

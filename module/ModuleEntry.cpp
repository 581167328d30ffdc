// The module's exported entry points for loading, class objects and unloading.
#include <windows.h>
#include <unknwn.h>

#include <new>

#include "framework/ModuleGlobals.h"
#include "framework/ObjectBase.h"
#include "module/ObjectFactory.h"
#include "module/ObjectTemplates.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query expects the classic record size");

namespace {

void RunTemplateInits(BOOL loading) {
    for (int i = 0; i < ObjectTemplateCount; ++i) {
        const ObjectTemplate& entry = ObjectTemplateTable[i];
        if (entry.m_InitFn) entry.m_InitFn(loading, entry.m_ClassId);
    }
}

void RecordPlatform() {
    PlatformId = 1;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    if (GetVersionExA(&version)) PlatformId = version.dwPlatformId;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

void ModuleEntry(HINSTANCE instance, DWORD reason) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        RecordPlatform();
        ModuleInstance = instance;
        RunTemplateInits(TRUE);
        break;
    case DLL_PROCESS_DETACH:
        RunTemplateInits(FALSE);
        break;
    default:
        break;
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    // The camera's window thread needs the instance even before the attach
    // notification has been handled.
    if (!ModuleInstance) ModuleInstance = instance;
    ModuleEntry(instance, reason);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    if (!out) return E_POINTER;

    for (int i = 0; i < ObjectTemplateCount; ++i) {
        const ObjectTemplate& entry = ObjectTemplateTable[i];
        if (*entry.m_ClassId != classId) continue;
        ObjectFactory* factory = new (std::nothrow) ObjectFactory(&entry);
        *out = factory;
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return (ServerLockCount > 0 || LiveObjectCount != 0) ? S_FALSE : S_OK;
}

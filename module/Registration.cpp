#include "module/Registration.h"

#include <objbase.h>
#include <strmif.h>
#include <uuids.h>

#include <cstring>

#include "camera/ICameraConfig.h"
#include "framework/FilterSetup.h"
#include "framework/ModuleGlobals.h"
#include "framework/Raii.h"
#include "module/ObjectTemplates.h"

namespace {

const int TextCapacity = MAX_PATH;  // 260 characters for paths, names and key names
const wchar_t CameraInstanceName[] = L"Brisca Camera";

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// ANSI form of a wide text; registry values are written as ANSI.
void ToAnsi(const wchar_t* text, char (&buffer)[TextCapacity]) {
    buffer[0] = '\0';
    if (!WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, TextCapacity, nullptr, nullptr)) buffer[0] = '\0';
    buffer[TextCapacity - 1] = '\0';
}

// "CLSID\{...}" for a class identifier.
void ClassKeyName(const CLSID& classId, char (&buffer)[TextCapacity]) {
    wchar_t braced[39];
    if (!StringFromGUID2(classId, braced, 39)) braced[0] = L'\0';
    wchar_t keyName[TextCapacity];
    wsprintfW(keyName, L"CLSID\\%ls", braced);
    ToAnsi(keyName, buffer);
}

// An open registry key, closed when it goes out of scope.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY* put() { Close(); return &m_Key; }
    HKEY get() const { return m_Key; }
    void Close() {
        if (m_Key) RegCloseKey(m_Key);
        m_Key = nullptr;
    }

private:
    HKEY m_Key = nullptr;
};

HRESULT SetTextValue(HKEY key, const char* valueName, const wchar_t* text) {
    char ansi[TextCapacity];
    ToAnsi(text, ansi);
    const LONG status = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi),
                                       static_cast<DWORD>(strlen(ansi) + 1));
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT CreateKey(HKEY parent, const char* name, RegistryKey& key) {
    const LONG status = RegCreateKeyA(parent, name, key.put());
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

// The file-not-found answer of a mapper means "nothing was registered",
// which is not a failure for the mapper routines.
HRESULT UpdateFilters(IUnknown* mapper, bool newMapper, bool registering) {
    HRESULT result = S_OK;
    for (int i = 0; i < ObjectTemplateCount && SUCCEEDED(result); ++i) {
        const FilterSetup* setup = ObjectTemplateTable[i].m_FilterSetup;
        if (!setup) continue;
        if (newMapper)
            result = UpdateFilterWithMapper2(setup, static_cast<IFilterMapper2*>(mapper), registering);
        else
            result = UpdateFilterWithMapper(setup, static_cast<IFilterMapper*>(mapper), registering);
    }
    return result;
}

HRESULT CreateMapper2(ComPtr<IFilterMapper2>& mapper) {
    return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                            mapper.putVoid());
}

}  // namespace

HRESULT WriteServerKeys(const CLSID& classId, const wchar_t* name, const wchar_t* modulePath,
                        const wchar_t* threadingModel, const wchar_t* serverKind) {
    char keyName[TextCapacity];
    ClassKeyName(classId, keyName);
    char serverKindAnsi[TextCapacity];
    ToAnsi(serverKind, serverKindAnsi);

    RegistryKey classKey;
    RETURN_IF_FAILED(CreateKey(HKEY_CLASSES_ROOT, keyName, classKey));
    RETURN_IF_FAILED(SetTextValue(classKey.get(), nullptr, name));
    RegistryKey serverKey;
    RETURN_IF_FAILED(CreateKey(classKey.get(), serverKindAnsi, serverKey));
    RETURN_IF_FAILED(SetTextValue(serverKey.get(), nullptr, modulePath));
    return SetTextValue(serverKey.get(), "ThreadingModel", threadingModel);
}

HRESULT DeleteKeyTree(HKEY parent, const char* name) {
    if (!name || !*name) return E_FAIL;

    RegistryKey key;
    if (RegOpenKeyExA(parent, name, 0, MAXIMUM_ALLOWED, key.put()) != ERROR_SUCCESS) return S_OK;

    // Deleting a subkey moves the next one to index 0. When the same name
    // comes back, that subkey could not be deleted: stop instead of trying
    // it forever.
    char previous[TextCapacity] = "";
    char subkey[TextCapacity];
    while (RegEnumKeyA(key.get(), 0, subkey, TextCapacity) == ERROR_SUCCESS) {
        if (previous[0] && strcmp(previous, subkey) == 0) break;
        DeleteKeyTree(key.get(), subkey);
        memcpy(previous, subkey, sizeof(previous));
    }
    key.Close();
    RegDeleteKeyA(parent, name);
    return S_OK;
}

HRESULT RemoveServerKeys(const CLSID& classId) {
    char keyName[TextCapacity];
    ClassKeyName(classId, keyName);
    DeleteKeyTree(HKEY_CLASSES_ROOT, keyName);
    return S_OK;
}

HRESULT UpdateServerKeys(const wchar_t* modulePath, bool registering) {
    HRESULT result = S_OK;
    for (int i = 0; i < ObjectTemplateCount; ++i) {
        const ObjectTemplate& entry = ObjectTemplateTable[i];
        result = registering ? WriteServerKeys(*entry.m_ClassId, entry.m_DisplayName, modulePath, L"Both",
                                               L"InprocServer32")
                             : RemoveServerKeys(*entry.m_ClassId);
        if (FAILED(result)) break;
    }
    return result;
}

HRESULT RegisterModule(bool registering) {
    char pathAnsi[TextCapacity];
    const DWORD length = GetModuleFileNameA(ModuleInstance, pathAnsi, TextCapacity);
    if (length == 0) return LastErrorResult();
    // A truncated path would register a file that does not exist.
    if (length >= TextCapacity) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    wchar_t path[TextCapacity];
    if (!MultiByteToWideChar(CP_ACP, 0, pathAnsi, -1, path, TextCapacity)) return LastErrorResult();

    if (registering) RETURN_IF_FAILED(UpdateServerKeys(path, true));

    // Only a successful initialisation is balanced: a thread already in the
    // multithreaded apartment refuses it, and uninitialising anyway would
    // tear down the caller's own COM.
    const bool initialised = SUCCEEDED(CoInitialize(nullptr));
    HRESULT result;
    {
        ComPtr<IFilterMapper2> mapper2;
        result = CreateMapper2(mapper2);
        if (SUCCEEDED(result)) {
            result = UpdateFilters(mapper2.get(), true, registering);
        } else {
            ComPtr<IFilterMapper> mapper;
            result = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                      mapper.putVoid());
            if (SUCCEEDED(result)) result = UpdateFilters(mapper.get(), false, registering);
        }
    }
    CoFreeUnusedLibraries();
    if (initialised) CoUninitialize();

    if (FAILED(result) || registering) return result;
    return UpdateServerKeys(path, false);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    RETURN_IF_FAILED(RegisterModule(true));

    ComPtr<IFilterMapper2> mapper;
    RETURN_IF_FAILED(CreateMapper2(mapper));
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 1;
    filter.rgPins = CameraFilterSetup.pins;
    return mapper->RegisterFilter(CLSID_BriscaCamera, CameraInstanceName, nullptr, &CLSID_VideoInputDeviceCategory,
                                  CameraInstanceName, &filter);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    RETURN_IF_FAILED(RegisterModule(false));

    ComPtr<IFilterMapper2> mapper;
    RETURN_IF_FAILED(CreateMapper2(mapper));
    return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, CameraInstanceName, CLSID_BriscaCamera);
}

// Registration of the built module with the platform's registration tool,
// as a user registers it, and the key-tree deletion it relies on.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <mfapi.h>
#include <mfidl.h>

#include <string>
#include <vector>

#include "camera/ICameraConfig.h"
#include "framework/Raii.h"
#include "mediasource/MediaSourceClass.h"
#include "module/Registration.h"

namespace {

// Filters registered without a category land in this one.
const CLSID DirectShowFilterCategory = {0x083863f1, 0x70de, 0x11d0, {0xbd, 0x40, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};

const CLSID* const ModuleClasses[] = {&CLSID_BriscaCamera, &CLSID_CameraSettingsPage, &CLSID_FormatPage};
const wchar_t* const ModuleClassNames[] = {L"Brisca Camera", L"Property Page", L"Format Page"};

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39];
    StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    GetFullPathNameW(L"QuillonFilter.dll", MAX_PATH, path, nullptr);
    return path;
}

// Runs the platform's registration tool on the module; returns its exit code.
DWORD RunRegistrationTool(bool unregister) {
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister) command += L"/u ";
    command += L"\"" + ModulePath() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool ReadText(HKEY root, const std::wstring& key, const wchar_t* value, std::wstring& text) {
    wchar_t buffer[1024];
    DWORD bytes = sizeof(buffer);
    if (RegGetValueW(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) return false;
    text = buffer;
    return true;
}

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

// Pin count of a filter's mapper record (REGFILTER2 as stored: version,
// merit, pin count, ...).
int RegisteredPinCount(const GUID& category, const std::wstring& instance) {
    const std::wstring key = L"CLSID\\" + GuidText(category) + L"\\Instance\\" + instance;
    BYTE data[1024];
    DWORD bytes = sizeof(data);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), L"FilterData", RRF_RT_REG_BINARY, nullptr, data, &bytes) !=
            ERROR_SUCCESS ||
        bytes < 12)
        return -1;
    DWORD pins;
    memcpy(&pins, data + 8, sizeof(pins));
    return static_cast<int>(pins);
}

std::vector<std::wstring> VideoDeviceNames() {
    std::vector<std::wstring> names;
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                devices.putVoid())))
        return names;
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0) != S_OK) return names;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()))) continue;
        VARIANT name;
        VariantInit(&name);
        if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) names.push_back(name.bstrVal);
        VariantClear(&name);
    }
    return names;
}

HRESULT BindVideoDevice(const std::wstring& wanted, ComPtr<IBaseFilter>& filter) {
    ComPtr<ICreateDevEnum> devices;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                      devices.putVoid()));
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0) != S_OK)
        return VFW_E_NOT_FOUND;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()))) continue;
        VARIANT name;
        VariantInit(&name);
        const bool match = SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
                           wanted == name.bstrVal;
        VariantClear(&name);
        if (match) return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid());
    }
    return VFW_E_NOT_FOUND;
}

bool Contains(const std::vector<std::wstring>& names, const wchar_t* name) {
    for (const std::wstring& each : names)
        if (each == name) return true;
    return false;
}

class ModuleRegistration : public testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }

    void ExpectServerKeys() {
        for (size_t i = 0; i < 3; ++i) {
            const std::wstring key = L"CLSID\\" + GuidText(*ModuleClasses[i]);
            std::wstring text;
            ASSERT_TRUE(ReadText(HKEY_CLASSES_ROOT, key, nullptr, text)) << "missing " << i;
            EXPECT_EQ(ModuleClassNames[i], text);
            ASSERT_TRUE(ReadText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, text));
            EXPECT_EQ(0, _wcsicmp(ModulePath().c_str(), text.c_str()));
            ASSERT_TRUE(ReadText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", text));
            EXPECT_EQ(L"Both", text);
        }
        // The device category gets one pin record, the default category both.
        EXPECT_EQ(1, RegisteredPinCount(CLSID_VideoInputDeviceCategory, L"Brisca Camera"));
        EXPECT_EQ(2, RegisteredPinCount(DirectShowFilterCategory, GuidText(CLSID_BriscaCamera)));
    }
};

TEST_F(ModuleRegistration, RegisterUseAndUnregister) {
    ASSERT_EQ(0u, RunRegistrationTool(false));
    ExpectServerKeys();
    // Registering again rewrites the same entries.
    ASSERT_EQ(0u, RunRegistrationTool(false));
    ExpectServerKeys();

    EXPECT_TRUE(Contains(VideoDeviceNames(), L"Brisca Camera"));
    ComPtr<IBaseFilter> device;
    ASSERT_EQ(S_OK, BindVideoDevice(L"Brisca Camera", device));
    CLSID reported = GUID_NULL;
    EXPECT_EQ(S_OK, device->GetClassID(&reported));
    EXPECT_TRUE(reported == CLSID_BriscaCamera);
    ComPtr<IPin> capture;
    EXPECT_EQ(S_OK, device->FindPin(L"1", capture.put()));
    device.reset();
    capture.reset();

    // Every class is creatable by its identifier.
    const IID* const interfaces[] = {&IID_IBaseFilter, &IID_IPropertyPage, &IID_IPropertyPage};
    for (size_t i = 0; i < 3; ++i) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(S_OK, CoCreateInstance(*ModuleClasses[i], nullptr, CLSCTX_INPROC_SERVER, *interfaces[i],
                                         object.putVoid()))
            << "class " << i;
    }

    ASSERT_EQ(0u, RunRegistrationTool(true));
    for (const CLSID* classId : ModuleClasses)
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*classId))) << "keys and subkeys removed";
    EXPECT_EQ(-1, RegisteredPinCount(CLSID_VideoInputDeviceCategory, L"Brisca Camera"));
    EXPECT_EQ(-1, RegisteredPinCount(DirectShowFilterCategory, GuidText(CLSID_BriscaCamera)));
    EXPECT_FALSE(Contains(VideoDeviceNames(), L"Brisca Camera"));
    ComPtr<IBaseFilter> gone;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(CLSID_BriscaCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, gone.putVoid()));

    // Leave the module registered for the tests that use it as a device.
    ASSERT_EQ(0u, RunRegistrationTool(false));
}

TEST_F(ModuleRegistration, RegistersTheMediaSourceBesideTheFilter)
{
    ASSERT_EQ(0u, RunRegistrationTool(false));
    const std::wstring key = L"CLSID\\" + GuidText(CLSID_BriscaMediaSource);
    std::wstring text;
    ASSERT_TRUE(ReadText(HKEY_CLASSES_ROOT, key, nullptr, text));
    EXPECT_EQ(L"Brisca Camera Media Source", text);
    ASSERT_TRUE(ReadText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, text));
    EXPECT_EQ(0, _wcsicmp(ModulePath().c_str(), text.c_str()));
    ASSERT_TRUE(ReadText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", text));
    EXPECT_EQ(L"Both", text);

    // Created by its class identifier as an activation object, as a frame
    // server creates it, and directly as the source it activates.
    ASSERT_EQ(S_OK, MFStartup(MF_VERSION, MFSTARTUP_FULL));
    ComPtr<IMFActivate> activate;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_BriscaMediaSource, nullptr, CLSCTX_INPROC_SERVER, IID_IMFActivate,
                                     activate.putVoid()));
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(S_OK, activate->ActivateObject(IID_IMFMediaSource, source.putVoid()));
    EXPECT_EQ(S_OK, activate->ShutdownObject());
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_BriscaMediaSource, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IMFMediaSource, source.putVoid()));
    ASSERT_TRUE(source);
    DWORD characteristics = 0;
    EXPECT_EQ(S_OK, source->GetCharacteristics(&characteristics));
    EXPECT_EQ(DWORD(MFMEDIASOURCE_IS_LIVE | MFMEDIASOURCE_CAN_PAUSE), characteristics);
    EXPECT_EQ(S_OK, source->Shutdown());
    source.reset();
    activate.reset();
    MFShutdown();

    ASSERT_EQ(0u, RunRegistrationTool(true));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
    ASSERT_EQ(0u, RunRegistrationTool(false));
}

TEST_F(ModuleRegistration, UnregisteringAnAbsentModuleReportsTheMapperAnswer) {
    HMODULE module = LoadLibraryW(L"QuillonFilter.dll");
    ASSERT_NE(nullptr, module);
    typedef HRESULT(STDAPICALLTYPE * Entry)();
    Entry unregister = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    Entry registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_NE(nullptr, unregister);
    ASSERT_NE(nullptr, registerServer);

    EXPECT_EQ(S_OK, unregister());
    // What the mapper says about an instance that is not there.
    ComPtr<IFilterMapper2> mapper;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                     mapper.putVoid()));
    const HRESULT absent =
        mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, L"Brisca Camera", CLSID_BriscaCamera);
    EXPECT_EQ(absent, unregister());
    for (const CLSID* classId : ModuleClasses) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*classId)));

    EXPECT_EQ(S_OK, registerServer());
    ExpectServerKeys();
    mapper.reset();
    FreeLibrary(module);
}

struct ThreadRegistration {
    HMODULE module;
    HRESULT registered = E_UNEXPECTED;
    HRESULT comAfterwards = E_UNEXPECTED;
};

DWORD WINAPI RegisterFromFreeThread(LPVOID parameter) {
    ThreadRegistration* run = static_cast<ThreadRegistration*>(parameter);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    typedef HRESULT(STDAPICALLTYPE * Entry)();
    Entry registerServer =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(run->module, "DllRegisterServer")));
    if (registerServer) run->registered = registerServer();
    // The caller's apartment must have survived the registration.
    ComPtr<IFilterMapper2> mapper;
    run->comAfterwards = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                          mapper.putVoid());
    mapper.reset();
    CoUninitialize();
    return 0;
}

TEST_F(ModuleRegistration, RegisteringFromTheFreeThreadedApartmentKeepsItsCom) {
    ThreadRegistration run;
    run.module = LoadLibraryW(L"QuillonFilter.dll");
    ASSERT_NE(nullptr, run.module);
    HANDLE thread = CreateThread(nullptr, 0, RegisterFromFreeThread, &run, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000));
    CloseHandle(thread);
    EXPECT_EQ(S_OK, run.registered);
    EXPECT_EQ(S_OK, run.comAfterwards);
    ExpectServerKeys();
    FreeLibrary(run.module);
}

// --- DeleteKeyTree, in the caller's own part of the registry ---

const wchar_t TestRoot[] = L"Software\\QuillonRegistrationTest";

class KeyTree : public testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, TestRoot);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, TestRoot, m_Root.put()));
    }
    void TearDown() override {
        m_Root.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, TestRoot);
    }

    void Create(const wchar_t* path) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(m_Root.get(), path, &key));
        RegSetValueExW(key, L"value", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
        RegCloseKey(key);
    }
    bool Exists(const wchar_t* path) { return KeyExists(m_Root.get(), path); }

    struct RootKey {
        HKEY key = nullptr;
        HKEY* put() { reset(); return &key; }
        HKEY get() const { return key; }
        void reset() { if (key) RegCloseKey(key); key = nullptr; }
        ~RootKey() { reset(); }
    } m_Root;
};

TEST_F(KeyTree, DeletesNestedKeysAndRefusesAnEmptyName) {
    Create(L"tree\\one\\deep\\deeper");
    Create(L"tree\\one\\side");
    Create(L"tree\\two");
    Create(L"keep");
    EXPECT_EQ(E_FAIL, DeleteKeyTree(m_Root.get(), ""));
    EXPECT_EQ(E_FAIL, DeleteKeyTree(m_Root.get(), nullptr));
    EXPECT_EQ(S_OK, DeleteKeyTree(m_Root.get(), "absent"));
    EXPECT_EQ(S_OK, DeleteKeyTree(m_Root.get(), "tree"));
    EXPECT_FALSE(Exists(L"tree"));
    EXPECT_TRUE(Exists(L"keep"));
}

struct DeleteCall {
    HKEY parent;
    HRESULT result;
};

DWORD WINAPI DeleteTreeThread(LPVOID parameter) {
    DeleteCall* call = static_cast<DeleteCall*>(parameter);
    call->result = DeleteKeyTree(call->parent, "tree");
    return 0;
}

TEST_F(KeyTree, StopsAtASubkeyThatCannotBeDeleted) {
    // A name the ANSI code page cannot spell: its subkey is listed as "??"
    // and can be neither opened nor deleted through the ANSI calls.
    Create(L"tree\\alpha\\inner");
    Create(L"tree\\beta");
    Create(L"tree\\\x4e2d\x6587");
    Create(L"tree\\\x4e2d\x6587\\inner");
    DeleteCall call = {m_Root.get(), E_UNEXPECTED};
    HANDLE thread = CreateThread(nullptr, 0, DeleteTreeThread, &call, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    const DWORD waited = WaitForSingleObject(thread, 20000);
    if (waited != WAIT_OBJECT_0) TerminateThread(thread, 1);
    CloseHandle(thread);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "DeleteKeyTree kept retrying the undeletable subkey";
    EXPECT_EQ(S_OK, call.result);
    // Subkeys listed before the stubborn one are gone; it and its parent stay.
    EXPECT_FALSE(Exists(L"tree\\alpha"));
    EXPECT_FALSE(Exists(L"tree\\beta"));
    EXPECT_TRUE(Exists(L"tree\\\x4e2d\x6587"));
    EXPECT_TRUE(Exists(L"tree"));
}

}  // namespace

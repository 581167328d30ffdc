// The module's class-object entry, class factory and unload rules, on the
// built module loaded like a host loads it, and the factory's handling of
// create functions that fail, with test templates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <windows.h>
#include <ocidl.h>
#include <strmif.h>

#include <vector>

#include "camera/ICameraConfig.h"
#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "module/ObjectFactory.h"
#include "module/ObjectTemplates.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* GetClassObjectEntry)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* CanUnloadEntry)();

const CLSID UnknownClass = {0x12345678, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

template <class Entry>
Entry ExportOf(HMODULE module, const char* name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

ULONG CountOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// A controlling owner for aggregation tests.
class CountingOwner : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_Count; }
    STDMETHODIMP_(ULONG) Release() override { return --m_Count; }
    ULONG m_Count = 1;
};

class LoadedModule : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        m_Module = LoadLibraryW(L"QuillonFilter.dll");
        ASSERT_NE(m_Module, nullptr) << "QuillonFilter.dll beside the test, error " << GetLastError();
        m_GetClassObject = ExportOf<GetClassObjectEntry>(m_Module, "DllGetClassObject");
        m_CanUnloadNow = ExportOf<CanUnloadEntry>(m_Module, "DllCanUnloadNow");
        ASSERT_NE(m_GetClassObject, nullptr);
        ASSERT_NE(m_CanUnloadNow, nullptr);
        ASSERT_EQ(S_OK, m_CanUnloadNow()) << "an earlier test left an object of the module alive";
    }
    void TearDown() override {
        if (m_CanUnloadNow) {
            EXPECT_EQ(S_OK, m_CanUnloadNow()) << "an object or lock of the module is left";
        }
        if (m_Module) FreeLibrary(m_Module);
        CoUninitialize();
    }

    ComPtr<IClassFactory> FactoryFor(const CLSID& classId) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, m_GetClassObject(classId, IID_IClassFactory, factory.putVoid()));
        return factory;
    }

    HMODULE m_Module = nullptr;
    GetClassObjectEntry m_GetClassObject = nullptr;
    CanUnloadEntry m_CanUnloadNow = nullptr;
};

// The names of the DLLs the loaded module imports from, read from its import directory.
std::vector<std::string> ImportedLibraries(HMODULE module)
{
    std::vector<std::string> names;
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return names;
    for (const IMAGE_IMPORT_DESCRIPTOR* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        for (char& c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    return names;
}

// Where Media Foundation is missing the module must still load, for the filter.
TEST_F(LoadedModule, ImportsNothingFromMediaFoundation)
{
    const std::vector<std::string> names = ImportedLibraries(m_Module);
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "kernel32.dll"));
    for (const std::string& name : names)
        EXPECT_NE(0u, name.compare(0, 2, "mf")) << name;
}

TEST_F(LoadedModule, ClassObjectEntryChecksInterfaceThenClass) {
    void* const untouched = reinterpret_cast<void*>(0x1234);
    const struct {
        const CLSID* classId;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {&CLSID_BriscaCamera, &IID_IBaseFilter, E_NOINTERFACE},
        {&CLSID_FormatPage, &IID_IPropertyPage, E_NOINTERFACE},
        {&UnknownClass, &IID_IBaseFilter, E_NOINTERFACE},  // the interface is tested first
        {&UnknownClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {&UnknownClass, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases) {
        void* out = untouched;
        EXPECT_EQ(c.expected, m_GetClassObject(*c.classId, *c.iid, &out));
        EXPECT_EQ(untouched, out) << "the out pointer is not written on failure";
    }
    EXPECT_EQ(E_POINTER, m_GetClassObject(CLSID_BriscaCamera, IID_IClassFactory, nullptr));
}

TEST_F(LoadedModule, FactoryCountsAndAnswersQueries) {
    for (const CLSID* classId : {&CLSID_BriscaCamera, &CLSID_CameraSettingsPage, &CLSID_FormatPage}) {
        for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory}) {
            IUnknown* raw = nullptr;
            ASSERT_EQ(S_OK, m_GetClassObject(*classId, *iid, reinterpret_cast<void**>(&raw)));
            ComPtr<IClassFactory> factory(static_cast<IClassFactory*>(raw));
            EXPECT_EQ(1u, CountOf(factory.get()));
            EXPECT_EQ(S_FALSE, m_CanUnloadNow()) << "a factory held by the host keeps the module loaded";

            EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IClassFactory, nullptr));
            void* other = reinterpret_cast<void*>(0x1234);
            EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IBaseFilter, &other));
            EXPECT_EQ(nullptr, other);
            ComPtr<IUnknown> again;
            ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, again.putVoid()));
            EXPECT_EQ(static_cast<IUnknown*>(factory.get()), again.get());
            EXPECT_EQ(2u, CountOf(factory.get()));
        }
    }
}

TEST_F(LoadedModule, CreatesEachClassWithItsInterface) {
    const struct {
        const CLSID* classId;
        const IID* iid;
    } classes[] = {
        {&CLSID_BriscaCamera, &IID_IBaseFilter},
        {&CLSID_CameraSettingsPage, &IID_IPropertyPage},
        {&CLSID_FormatPage, &IID_IPropertyPage},
    };
    for (const auto& c : classes) {
        ComPtr<IClassFactory> factory = FactoryFor(*c.classId);
        ASSERT_TRUE(factory);
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, *c.iid, object.putVoid()));
        ASSERT_TRUE(object);
        EXPECT_EQ(1u, CountOf(object.get())) << "the factory keeps no reference of its own";
        factory.reset();
        EXPECT_EQ(S_FALSE, m_CanUnloadNow()) << "a live object keeps the module loaded";
        object.reset();
        EXPECT_EQ(S_OK, m_CanUnloadNow());
    }

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, FactoryFor(CLSID_BriscaCamera)->CreateInstance(nullptr, IID_IBaseFilter, filter.putVoid()));
    CLSID reported = GUID_NULL;
    EXPECT_EQ(S_OK, filter->GetClassID(&reported));
    EXPECT_TRUE(reported == CLSID_BriscaCamera);
}

TEST_F(LoadedModule, PageTitleComesFromTheModuleResources) {
    // The title is a string resource of the module, loaded through the
    // instance and platform recorded at load.
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK,
              FactoryFor(CLSID_CameraSettingsPage)->CreateInstance(nullptr, IID_IPropertyPage, page.putVoid()));
    PROPPAGEINFO info = {};
    info.cb = sizeof(info);
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    ASSERT_NE(nullptr, info.pszTitle);
    EXPECT_STREQ(L"Camera Set", info.pszTitle);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
}

TEST_F(LoadedModule, CreateInstanceRefusalsLeaveNothingAlive) {
    ComPtr<IClassFactory> factory = FactoryFor(CLSID_BriscaCamera);
    ASSERT_TRUE(factory);
    CountingOwner owner;
    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* out = untouched;
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&owner, IID_IBaseFilter, &out));
    EXPECT_EQ(untouched, out);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IPropertyPage, &out));
    EXPECT_EQ(nullptr, out);
    factory.reset();
    EXPECT_EQ(S_OK, m_CanUnloadNow()) << "a refused creation destroyed its object";
    EXPECT_EQ(1u, owner.m_Count);
}

TEST_F(LoadedModule, AggregatedFilterForwardsToItsOwner) {
    CountingOwner owner;
    ComPtr<IUnknown> inner;
    ASSERT_EQ(S_OK, FactoryFor(CLSID_BriscaCamera)->CreateInstance(&owner, IID_IUnknown, inner.putVoid()));
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(2u, owner.m_Count) << "the interface's reference went to the owner";
    filter->Release();
    EXPECT_EQ(1u, owner.m_Count);
    inner.reset();
}

TEST_F(LoadedModule, ServerLockKeepsTheModuleLoaded) {
    ComPtr<IClassFactory> factory = FactoryFor(CLSID_FormatPage);
    IClassFactory* raw = factory.get();
    raw->AddRef();
    factory.reset();  // the host still holds one reference
    EXPECT_EQ(S_OK, raw->LockServer(TRUE));
    EXPECT_EQ(S_OK, raw->LockServer(TRUE));
    EXPECT_EQ(0u, raw->Release());
    EXPECT_EQ(S_FALSE, m_CanUnloadNow());

    ComPtr<IClassFactory> other = FactoryFor(CLSID_FormatPage);
    EXPECT_EQ(S_OK, other->LockServer(FALSE));
    other.reset();
    EXPECT_EQ(S_FALSE, m_CanUnloadNow()) << "one lock is still held";
    other = FactoryFor(CLSID_FormatPage);
    EXPECT_EQ(S_OK, other->LockServer(FALSE));
    other.reset();
    EXPECT_EQ(S_OK, m_CanUnloadNow());
}

struct SharedFactory {
    IClassFactory* factory;
    HANDLE go;
};

DWORD WINAPI HammerFactory(LPVOID parameter) {
    SharedFactory* shared = static_cast<SharedFactory*>(parameter);
    WaitForSingleObject(shared->go, INFINITE);
    for (int i = 0; i < 20000; ++i) {
        shared->factory->AddRef();
        shared->factory->LockServer(TRUE);
        shared->factory->LockServer(FALSE);
        shared->factory->Release();
    }
    return 0;
}

TEST_F(LoadedModule, CountersSurviveConcurrentHosts) {
    ComPtr<IClassFactory> factory = FactoryFor(CLSID_BriscaCamera);
    ASSERT_TRUE(factory);
    UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SharedFactory shared = {factory.get(), go.get()};
    std::vector<HANDLE> threads;
    for (int i = 0; i < 4; ++i) threads.push_back(CreateThread(nullptr, 0, HammerFactory, &shared, 0, nullptr));
    SetEvent(go.get());
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 60000);
    for (HANDLE thread : threads) CloseHandle(thread);
    EXPECT_EQ(1u, CountOf(factory.get())) << "no reference was lost or doubled";
    factory.reset();
    EXPECT_EQ(S_OK, m_CanUnloadNow()) << "every lock was balanced and the factory is gone";
}

// --- The factory's rules for create functions, with templates of its own ---

int DestroyedObjects = 0;

class TestObject : public ObjectBase {
public:
    explicit TestObject(IUnknown* owner) : ObjectBase(L"test object", owner) {}
    ~TestObject() override { ++DestroyedObjects; }
};

HRESULT NextResult = S_OK;
bool ReturnObject = true;

ObjectBase* CreateTestObject(IUnknown* owner, HRESULT* result) {
    *result = NextResult;
    return ReturnObject ? new TestObject(owner) : nullptr;
}

const ObjectTemplate TestTemplate = {L"Test", &UnknownClass, &CreateTestObject, nullptr, nullptr};

TEST(ObjectFactoryRules, CreateFunctionOutcomes) {
    const struct {
        bool returnObject;
        HRESULT createResult;
        HRESULT expected;
        int destroyed;
    } cases[] = {
        {true, S_OK, S_OK, 0},
        {true, E_ACCESSDENIED, E_ACCESSDENIED, 1},  // object with a failure: deleted
        {false, E_ACCESSDENIED, E_ACCESSDENIED, 0},
        {false, S_OK, E_OUTOFMEMORY, 0},  // nothing and no reason
        {false, S_FALSE, E_OUTOFMEMORY, 0},
    };
    const LONG liveBefore = LiveObjectCount;
    for (const auto& c : cases) {
        ObjectFactory* factory = new ObjectFactory(&TestTemplate);
        factory->AddRef();
        ReturnObject = c.returnObject;
        NextResult = c.createResult;
        DestroyedObjects = 0;
        IUnknown* object = nullptr;
        EXPECT_EQ(c.expected, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)));
        EXPECT_EQ(c.destroyed, DestroyedObjects);
        if (object) {
            EXPECT_EQ(1u, CountOf(object));
            EXPECT_EQ(0u, object->Release());
            EXPECT_EQ(1, DestroyedObjects);
        }
        EXPECT_EQ(0u, factory->Release());
        EXPECT_EQ(liveBefore, LiveObjectCount) << "objects and the factory are all gone";
    }
}

TEST(ObjectFactoryRules, FailedQueryDestroysTheNewObject) {
    const LONG liveBefore = LiveObjectCount;
    ObjectFactory* factory = new ObjectFactory(&TestTemplate);
    EXPECT_EQ(liveBefore + 1, LiveObjectCount) << "the factory counts as a live object";
    EXPECT_EQ(1u, factory->AddRef());
    ReturnObject = true;
    NextResult = S_OK;
    DestroyedObjects = 0;
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IBaseFilter, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1, DestroyedObjects);
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(liveBefore, LiveObjectCount);
}

}  // namespace

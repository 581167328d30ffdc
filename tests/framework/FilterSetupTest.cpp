// The mapper routines: the order of mapper calls for a two-pin record, the
// "file not found" rule, and the filter's IAMovieSetup path through Wine's
// legacy mapper.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <dshow.h>

#include "framework/FilterSetup.h"
#include "framework/Raii.h"
#include "tests/support/FakeInputPin.h"
#include "tests/support/SyntheticSource.h"

namespace {

const HRESULT FileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

const REGPINTYPES VideoType = {&MEDIATYPE_Video, &GUID_NULL};
const REGFILTERPINS Pins[2] = {
    {const_cast<LPWSTR>(L"OutVideo"), FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &VideoType},
    {const_cast<LPWSTR>(L"Second"), FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &VideoType},
};
const FilterSetup TwoPinSetup = {&CLSID_SyntheticSource, L"Synthetic Source", MERIT_DO_NOT_USE, 2, Pins};

std::string Narrow(LPCWSTR text)
{
    std::string result;
    for (; text && *text; ++text) result += static_cast<char>(*text);
    return result;
}

// Records the calls of both mapper generations; the answer of one chosen
// call can be replaced.
class RecordingMapper : public IFilterMapper, public IFilterMapper2 {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IFilterMapper
    STDMETHODIMP RegisterFilter(CLSID, LPCWSTR name, DWORD merit) override
    {
        return Answer("RegisterFilter " + Narrow(name) + " " + std::to_string(merit));
    }
    STDMETHODIMP RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP RegisterPin(CLSID, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero, BOOL many, CLSID,
                             LPCWSTR) override
    {
        return Answer("RegisterPin " + Narrow(name) + " " + std::to_string(rendered) + std::to_string(output) +
                      std::to_string(zero) + std::to_string(many));
    }
    STDMETHODIMP RegisterPinType(CLSID, LPCWSTR name, CLSID major, CLSID) override
    {
        return Answer("RegisterPinType " + Narrow(name) + (IsEqualGUID(major, MEDIATYPE_Video) ? " video" : " ?"));
    }
    STDMETHODIMP UnregisterFilter(CLSID) override { return Answer("UnregisterFilter"); }
    STDMETHODIMP UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }
    STDMETHODIMP UnregisterPin(CLSID, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnumMatchingFilters(IEnumRegFilters**, DWORD, BOOL, CLSID, CLSID, BOOL, BOOL, CLSID,
                                     CLSID) override
    {
        return E_NOTIMPL;
    }
    // IFilterMapper2
    STDMETHODIMP CreateCategory(REFCLSID, DWORD, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP UnregisterFilter(const CLSID* category, LPCOLESTR instance, REFCLSID) override
    {
        return Answer(std::string("UnregisterFilter2") + (category || instance ? " named" : ""));
    }
    STDMETHODIMP RegisterFilter(REFCLSID, LPCWSTR name, IMoniker**, const CLSID* category, LPCOLESTR instance,
                                const REGFILTER2* record) override
    {
        return Answer("RegisterFilter2 " + Narrow(name) + (category || instance ? " named" : "") + " v" +
                      std::to_string(record->dwVersion) + " merit " + std::to_string(record->dwMerit) + " pins " +
                      std::to_string(record->cPins) + (record->rgPins == Pins ? " ours" : " other"));
    }
    STDMETHODIMP EnumMatchingFilters(IEnumMoniker**, DWORD, BOOL, DWORD, BOOL, DWORD, const GUID*,
                                     const REGPINMEDIUM*, const CLSID*, BOOL, BOOL, DWORD, const GUID*,
                                     const REGPINMEDIUM*, const CLSID*) override
    {
        return E_NOTIMPL;
    }

    std::vector<std::string> m_Calls;
    std::string m_FailingCall;
    HRESULT m_Failure = S_OK;

private:
    HRESULT Answer(const std::string& call)
    {
        m_Calls.push_back(call);
        return call.compare(0, m_FailingCall.size(), m_FailingCall) == 0 && !m_FailingCall.empty() ? m_Failure
                                                                                                   : S_OK;
    }
};

typedef std::vector<std::string> Calls;

TEST(FilterSetupTest, LegacyMapperRegistersFilterPinsAndTypesInOrder)
{
    RecordingMapper mapper;
    EXPECT_EQ(S_OK, UpdateFilterWithMapper(&TwoPinSetup, &mapper, true));
    EXPECT_EQ((Calls{"UnregisterFilter", "RegisterFilter Synthetic Source 2097152", "RegisterPin OutVideo 0100",
                     "RegisterPinType OutVideo video", "RegisterPin Second 0100", "RegisterPinType Second video"}),
              mapper.m_Calls);

    RecordingMapper removing;
    EXPECT_EQ(S_OK, UpdateFilterWithMapper(&TwoPinSetup, &removing, false));
    EXPECT_EQ(Calls{"UnregisterFilter"}, removing.m_Calls);
    EXPECT_EQ(S_FALSE, UpdateFilterWithMapper(nullptr, &removing, true));
}

TEST(FilterSetupTest, MapperFailuresStopTheRegistration)
{
    struct Case {
        const char* failingCall;
        HRESULT failure;
        bool registering;
        HRESULT expected;
        size_t calls;
    };
    const Case cases[] = {
        {"UnregisterFilter", FileNotFound, false, S_OK, 1},
        {"UnregisterFilter", E_ACCESSDENIED, false, E_ACCESSDENIED, 1},
        {"UnregisterFilter", E_ACCESSDENIED, true, S_OK, 6},  // the old entry may be absent
        {"RegisterFilter", E_ACCESSDENIED, true, E_ACCESSDENIED, 2},
        {"RegisterPin Second", E_OUTOFMEMORY, true, E_OUTOFMEMORY, 5},
        {"RegisterPinType OutVideo", FileNotFound, true, S_OK, 4},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.failingCall);
        RecordingMapper mapper;
        mapper.m_FailingCall = each.failingCall;
        mapper.m_Failure = each.failure;
        EXPECT_EQ(each.expected, UpdateFilterWithMapper(&TwoPinSetup, &mapper, each.registering));
        EXPECT_EQ(each.calls, mapper.m_Calls.size());
    }
}

TEST(FilterSetupTest, CurrentMapperRegistersAllPinsInTheDefaultCategory)
{
    RecordingMapper mapper;
    EXPECT_EQ(S_OK, UpdateFilterWithMapper2(&TwoPinSetup, static_cast<IFilterMapper2*>(&mapper), true));
    EXPECT_EQ((Calls{"UnregisterFilter2", "RegisterFilter2 Synthetic Source v1 merit 2097152 pins 2 ours"}),
              mapper.m_Calls);

    RecordingMapper removing;
    removing.m_FailingCall = "UnregisterFilter2";
    removing.m_Failure = FileNotFound;
    EXPECT_EQ(S_OK, UpdateFilterWithMapper2(&TwoPinSetup, static_cast<IFilterMapper2*>(&removing), false));
    removing.m_Failure = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, UpdateFilterWithMapper2(&TwoPinSetup, static_cast<IFilterMapper2*>(&removing), false));
    EXPECT_EQ(S_FALSE, UpdateFilterWithMapper2(nullptr, static_cast<IFilterMapper2*>(&removing), false));
}

bool FilterKeyExists()
{
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Filter\\{5B0E6B1C-3C52-4E0B-9B7E-6C1D4F8A2E11}", 0,
                                      KEY_READ, &key);
    if (key) RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

struct RegistrationOutcome {
    HRESULT registered = E_FAIL;
    bool keyAfterRegister = false;
    HRESULT unregistered = E_FAIL;
    bool keyAfterUnregister = true;
    HRESULT stillInitialised = E_FAIL;
};

DWORD WINAPI RegisterFromMultithreadedApartment(LPVOID parameter)
{
    RegistrationOutcome& result = *static_cast<RegistrationOutcome*>(parameter);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    SyntheticSource* source = SyntheticSource::Create(1);
    source->SetSetupData(&TwoPinSetup);
    ComPtr<IAMovieSetup> setup;
    source->Filter()->QueryInterface(IID_IAMovieSetup, setup.putVoid());
    result.registered = setup->Register();
    result.keyAfterRegister = FilterKeyExists();
    result.unregistered = setup->Unregister();
    result.keyAfterUnregister = FilterKeyExists();
    setup.reset();
    source->Filter()->Release();
    // S_FALSE: this thread's multithreaded apartment is still there.
    result.stillInitialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result.stillInitialised)) CoUninitialize();
    CoUninitialize();
    return 0;
}

// A filter with a setup record registers itself through the legacy mapper,
// and leaves the calling thread's own COM initialisation as it found it.
TEST(FilterSetupTest, MovieSetupUsesTheLegacyMapperAndKeepsTheCallersApartment)
{
    RegistrationOutcome outcome;

    HANDLE thread = CreateThread(nullptr, 0, &RegisterFromMultithreadedApartment, &outcome, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    EXPECT_EQ(S_OK, outcome.registered);
    EXPECT_TRUE(outcome.keyAfterRegister);
    EXPECT_EQ(S_OK, outcome.unregistered);
    EXPECT_FALSE(outcome.keyAfterUnregister);
    EXPECT_EQ(S_FALSE, outcome.stillInitialised);
}

} // namespace

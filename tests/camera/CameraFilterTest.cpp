#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <cwchar>
#include <string>

#include "camera/CameraFilter.h"
#include "camera/CapturePin.h"
#include "sdk/QuillonSim.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeInputPin.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/ProcessCounters.h"
#include "tests/support/SimCallLog.h"

namespace {

class CameraFilterTest : public testing::Test {
  protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SimReset();
        m_LiveBefore = LiveObjectCount;
        HRESULT result = E_UNEXPECTED;
        ObjectBase* object = CameraFilter::Create(nullptr, &result);
        ASSERT_EQ(S_OK, result);
        ASSERT_NE(nullptr, object);
        m_Object = static_cast<CameraFilter*>(object);
        ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, m_Filter.putVoid()));
    }
    void TearDown() override
    {
        m_Filter.reset();
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        SimReset();
        CoUninitialize();
    }

    ComPtr<IPin> PinAt(int index)
    {
        ComPtr<IEnumPins> pins;
        EXPECT_EQ(S_OK, m_Filter->EnumPins(pins.put()));
        ComPtr<IPin> pin;
        for (int i = 0; i <= index; ++i)
            if (pins->Next(1, pin.put(), nullptr) != S_OK) return ComPtr<IPin>();
        return pin;
    }

    IsolatedTempDirectory m_Temp;
    LONG m_LiveBefore = 0;
    CameraFilter* m_Object = nullptr;
    ComPtr<IBaseFilter> m_Filter;
};

TEST_F(CameraFilterTest, HasACapturePinThenAPreviewPin)
{
    struct Expected {
        const wchar_t* name;
        const wchar_t* id;
        const GUID* category;
    };
    const Expected expected[] = {{L"~Capture", L"1", &PIN_CATEGORY_CAPTURE},
                                 {L"Preview", L"2", &PIN_CATEGORY_PREVIEW}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ComPtr<IPin> pin = PinAt(i);
        ASSERT_TRUE(pin);

        PIN_INFO info = {};
        ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
        EXPECT_STREQ(expected[i].name, info.achName);
        EXPECT_EQ(PINDIR_OUTPUT, info.dir);
        EXPECT_EQ(m_Filter.get(), info.pFilter);
        if (info.pFilter) info.pFilter->Release();

        LPWSTR id = nullptr;
        ASSERT_EQ(S_OK, pin->QueryId(&id));
        EXPECT_STREQ(expected[i].id, id);
        CoTaskMemFree(id);

        ComPtr<IPin> found;
        ASSERT_EQ(S_OK, m_Filter->FindPin(expected[i].id, found.put()));
        EXPECT_EQ(pin.get(), found.get());

        ComPtr<IKsPropertySet> properties;
        ASSERT_EQ(S_OK, pin.queryInto(IID_IKsPropertySet, properties));
        GUID category = GUID_NULL;
        DWORD returned = 0;
        EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                        sizeof(category), &returned));
        EXPECT_TRUE(IsEqualGUID(*expected[i].category, category));
    }
    EXPECT_FALSE(PinAt(2));
    EXPECT_EQ(m_Object->PinInList(0)->PinInterface(), PinAt(0).get());
}

TEST_F(CameraFilterTest, IdentifiesItselfAsASourceWithTheSettingsPage)
{
    CLSID classId = GUID_NULL;
    EXPECT_EQ(S_OK, m_Filter->GetClassID(&classId));
    EXPECT_TRUE(IsEqualGUID(CLSID_BriscaCamera, classId));

    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, m_Filter.queryInto(IID_IAMFilterMiscFlags, flags));
    EXPECT_EQ(2u, flags->GetMiscFlags());

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(S_OK, m_Filter.queryInto(IID_ISpecifyPropertyPages, pages));
    CAUUID list = {};
    ASSERT_EQ(S_OK, pages->GetPages(&list));
    ASSERT_EQ(1u, list.cElems);
    ASSERT_NE(nullptr, list.pElems);
    EXPECT_TRUE(IsEqualGUID(CLSID_CameraSettingsPage, list.pElems[0]));
    CoTaskMemFree(list.pElems);
    EXPECT_EQ(E_POINTER, pages->GetPages(nullptr));
}

TEST_F(CameraFilterTest, OverlayNotificationsAreAcceptedAndIgnored)
{
    ComPtr<IOverlayNotify> overlay;
    ASSERT_EQ(S_OK, m_Filter.queryInto(IID_IOverlayNotify, overlay));
    const RECT rect = {1, 2, 3, 4};
    EXPECT_EQ(S_OK, overlay->OnPaletteChange(0, nullptr));
    EXPECT_EQ(S_OK, overlay->OnClipChange(nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, overlay->OnClipChange(&rect, &rect, nullptr));
    EXPECT_EQ(S_OK, overlay->OnColorKeyChange(nullptr));
    EXPECT_EQ(S_OK, overlay->OnPositionChange(&rect, nullptr));
}

TEST_F(CameraFilterTest, AnswersItsQueryTableWithOneReferenceEach)
{
    struct Case {
        const char* name;
        const IID* iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"ICameraFilterTag", &IID_ICameraFilterTag, S_OK},
        {"IKsPropertySet", &IID_IKsPropertySet, E_NOINTERFACE},
        {"IAMFilterMiscFlags", &IID_IAMFilterMiscFlags, S_OK},
        {"ISpecifyPropertyPages", &IID_ISpecifyPropertyPages, S_OK},
        {"IOverlayNotify", &IID_IOverlayNotify, S_OK},
        {"ICameraConfig", &IID_ICameraConfig, S_OK},
        {"IBaseFilter", &IID_IBaseFilter, S_OK},
        {"IMediaFilter", &IID_IMediaFilter, S_OK},
        {"IPersist", &IID_IPersist, S_OK},
        {"IAMovieSetup", &IID_IAMovieSetup, S_OK},
        {"IUnknown", &IID_IUnknown, S_OK},
        {"IAMVfwCaptureDialogs", &IID_IAMVfwCaptureDialogs, E_NOINTERFACE},
        {"IAMStreamConfig", &IID_IAMStreamConfig, E_NOINTERFACE},
        {"IPin", &IID_IPin, E_NOINTERFACE},
    };
    const ULONG references = RefCountOf(m_Filter.get());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.expected, m_Filter->QueryInterface(*c.iid, &out));
        if (c.expected == S_OK) {
            ASSERT_NE(nullptr, out);
            EXPECT_EQ(references + 1, RefCountOf(m_Filter.get()));
            static_cast<IUnknown*>(out)->Release();
        } else {
            EXPECT_EQ(nullptr, out);
        }
        EXPECT_EQ(references, RefCountOf(m_Filter.get()));
        EXPECT_EQ(E_POINTER, m_Filter->QueryInterface(*c.iid, nullptr));
    }
}

TEST_F(CameraFilterTest, CameraConfigIsTheCapturePins)
{
    ComPtr<ICameraConfig> fromFilter, fromCapture, fromPreview;
    ASSERT_EQ(S_OK, m_Filter.queryInto(IID_ICameraConfig, fromFilter));
    ASSERT_EQ(S_OK, PinAt(0).queryInto(IID_ICameraConfig, fromCapture));
    ASSERT_EQ(S_OK, PinAt(1).queryInto(IID_ICameraConfig, fromPreview));
    EXPECT_EQ(fromCapture.get(), fromFilter.get());
    EXPECT_NE(fromPreview.get(), fromFilter.get());
    // Its identity is the pin's.
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, fromFilter.queryInto(IID_IPin, pin));
    EXPECT_EQ(PinAt(0).get(), pin.get());
}

TEST_F(CameraFilterTest, ReleasingTheLastReferenceClosesTheCameraAndLeavesNoObject)
{
    CapturePin* capture = m_Object->PinInList(0);
    ASSERT_EQ(S_OK, capture->OnThreadBegin());
    ASSERT_EQ(1, SimIsInitialised());
    EXPECT_EQ(m_LiveBefore + 3, LiveObjectCount); // the filter and its two pins
    m_Filter.reset();
    EXPECT_EQ(m_LiveBefore, LiveObjectCount);
    EXPECT_EQ(0, SimIsInitialised());
    const std::vector<std::string> calls = SimCallNamesAmong({"CameraInit", "CameraPlay", "CameraUnInit"});
    EXPECT_EQ((std::vector<std::string>{"CameraInit", "CameraPlay", "CameraUnInit"}), calls);
}

TEST(CameraFilterCreateTest, AggregatedFilterForwardsToItsOwner)
{
    struct Owner : IUnknown {
        LONG references = 1;
        IUnknown* inner = nullptr;
        STDMETHODIMP QueryInterface(REFIID iid, void** out) override
        {
            return inner->QueryInterface(iid, out);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
        STDMETHODIMP_(ULONG) Release() override { return --references; }
    } owner;
    const LONG liveBefore = LiveObjectCount;
    HRESULT result = E_UNEXPECTED;
    ObjectBase* filter = CameraFilter::Create(&owner, &result);
    ASSERT_EQ(S_OK, result);
    ASSERT_NE(nullptr, filter);
    owner.inner = filter->InnerUnknown();
    filter->InnerAddRef();

    IBaseFilter* base = nullptr;
    ASSERT_EQ(S_OK, filter->InnerQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base)));
    EXPECT_EQ(2, owner.references); // the reference went to the owner
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, base->QueryInterface(IID_IAMFilterMiscFlags, flags.putVoid()));
    EXPECT_EQ(3, owner.references);
    flags.reset();
    base->Release();
    EXPECT_EQ(1, owner.references);
    filter->InnerRelease();
    EXPECT_EQ(liveBefore, LiveObjectCount);
}

// A host may release a paused or running filter without stopping it. Wine's
// graph always stops its filters first, so the filter is driven directly,
// and in a child process, where a crash fails this test instead of the run.
TEST(CameraFilterReleaseTest, ReleasingAPausedOrRunningFilterStopsItsWorkersFirst)
{
    if (!InChildProcess()) {
        EXPECT_EQ(0u, RunTestInChildProcess(
                          "CameraFilterReleaseTest.ReleasingAPausedOrRunningFilterStopsItsWorkersFirst"));
        return;
    }
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IsolatedTempDirectory temp;
    for (bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "paused");
        SimReset();
        const int threadsBefore = ProcessThreadCount();
        const LONG liveBefore = LiveObjectCount;
        HRESULT result = E_FAIL;
        ObjectBase* object = CameraFilter::Create(nullptr, &result);
        ASSERT_NE(nullptr, object);
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
        CameraFilter* camera = static_cast<CameraFilter*>(object);
        FakeInputPin* peers[2] = {new FakeInputPin(), new FakeInputPin()};
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(S_OK, camera->PinInList(i)->PinInterface()->Connect(peers[i], nullptr));

        ASSERT_EQ(S_OK, running ? filter->Run(0) : filter->Pause());
        ASSERT_TRUE(WaitUntil([&] { return peers[0]->m_Samples >= 2 && peers[1]->m_Samples >= 2; }, 10000));
        // The downstream side lets go of the pins, as a released graph would.
        for (FakeInputPin* peer : peers)
            peer->Disconnect();
        EXPECT_EQ(0u, filter->Release());

        EXPECT_EQ(liveBefore, LiveObjectCount);
        EXPECT_EQ(0, SimIsInitialised());
        EXPECT_TRUE(WaitUntil([&] { return ProcessThreadCount() <= threadsBefore; }));
        for (FakeInputPin* peer : peers)
            peer->Release();
    }
    CoUninitialize();
}

} // namespace

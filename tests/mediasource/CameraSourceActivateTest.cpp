// The media source's activation object on its own: one source per
// activation, created with the object's attributes as its source attributes,
// the same source while it is active, and ShutdownObject and DetachObject
// each ending the activation in their way. The frame server's whole sequence
// through the module is in CameraMediaSourceTest.
#include <gtest/gtest.h>

#include "mediasource/MediaFoundation.h"
#include <mftransform.h>

#include "framework/Raii.h"
#include "mediasource/CameraSourceActivate.h"
#include "mediasource/MediaSourceClass.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/MediaFoundationSession.h"

namespace {

// {9D5B6A7E-1C1F-4F57-9E33-0C5A1B5E7A11}: a key of the test's own.
const GUID PlatformKey = {0x9d5b6a7e, 0x1c1f, 0x4f57, {0x9e, 0x33, 0x0c, 0x5a, 0x1b, 0x5e, 0x7a, 0x11}};

class SourceActivateTest : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, m_Session.Result());
        m_LiveBefore = LiveObjectCount;
    }
    void TearDown() override { EXPECT_EQ(m_LiveBefore, LiveObjectCount) << "module objects left behind"; }

    ComPtr<IMFActivate> NewActivate()
    {
        HRESULT result = E_UNEXPECTED;
        ObjectBase* object = CreateCameraSourceActivate(nullptr, &result);
        EXPECT_EQ(S_OK, result);
        ComPtr<IMFActivate> activate;
        if (object) object->InnerQueryInterface(IID_IMFActivate, activate.putVoid());
        return activate;
    }

    MediaFoundationSession m_Session;
    IsolatedTempDirectory m_Temp; // the settings the sources read
    LONG m_LiveBefore = 0;
};

ULONG References(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

TEST_F(SourceActivateTest, ActivatesOneSourceThatReadsTheAttributesSetBeforehand)
{
    ComPtr<IMFActivate> activate = NewActivate();
    ASSERT_TRUE(activate);
    ASSERT_EQ(S_OK, activate->SetUINT32(PlatformKey, 7));
    ComPtr<IMFMediaSourceEx> source;
    ASSERT_EQ(S_OK, activate->ActivateObject(IID_IMFMediaSourceEx, source.putVoid()));
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(S_OK, source->GetSourceAttributes(attributes.put()));
    EXPECT_EQ(7u, MFGetAttributeUINT32(attributes.get(), PlatformKey, 0));
    ASSERT_EQ(S_OK, activate->SetUINT32(PlatformKey, 8));
    EXPECT_EQ(8u, MFGetAttributeUINT32(attributes.get(), PlatformKey, 0)) << "one store, not a copy";

    // The same source for another of its interfaces; none for an interface it lacks.
    ComPtr<IMFMediaSource> again;
    ASSERT_EQ(S_OK, activate->ActivateObject(IID_IMFMediaSource, again.putVoid()));
    ComPtr<IUnknown> first, second, missing;
    source->QueryInterface(IID_IUnknown, first.putVoid());
    again->QueryInterface(IID_IUnknown, second.putVoid());
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(E_NOINTERFACE, activate->ActivateObject(IID_IMFTransform, missing.putVoid()));
    EXPECT_EQ(nullptr, missing.get());
    EXPECT_EQ(5u, References(first.get())) << "source, again, first, second and the activation's own";

    HRESULT refused = S_OK;
    EXPECT_EQ(nullptr, CreateCameraSourceActivate(activate.get(), &refused));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, refused);
    EXPECT_EQ(S_OK, activate->ShutdownObject());
}

TEST_F(SourceActivateTest, ShutdownObjectEndsTheSourceAndDetachObjectLetsItGoRunning)
{
    ComPtr<IMFActivate> activate = NewActivate();
    ComPtr<IMFMediaSource> detached, shutDown, fresh;
    ASSERT_EQ(S_OK, activate->ActivateObject(IID_IMFMediaSource, detached.putVoid()));
    ASSERT_EQ(S_OK, activate->DetachObject());
    EXPECT_EQ(1u, References(detached.get())) << "the activation let it go";
    DWORD characteristics = 0;
    EXPECT_EQ(S_OK, detached->GetCharacteristics(&characteristics));

    ASSERT_EQ(S_OK, activate->ActivateObject(IID_IMFMediaSource, shutDown.putVoid()));
    EXPECT_NE(detached.get(), shutDown.get());
    ASSERT_EQ(S_OK, activate->ShutdownObject());
    EXPECT_EQ(MF_E_SHUTDOWN, shutDown->GetCharacteristics(&characteristics));
    EXPECT_EQ(1u, References(shutDown.get()));
    EXPECT_EQ(S_OK, detached->GetCharacteristics(&characteristics)) << "a detached source is not shut down";
    EXPECT_EQ(S_OK, activate->ShutdownObject()) << "nothing left to shut down";

    ASSERT_EQ(S_OK, activate->ActivateObject(IID_IMFMediaSource, fresh.putVoid()));
    EXPECT_EQ(S_OK, fresh->GetCharacteristics(&characteristics));
    EXPECT_EQ(S_OK, detached->Shutdown());
    EXPECT_EQ(S_OK, activate->ShutdownObject());
}

} // namespace

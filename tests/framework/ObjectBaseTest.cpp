#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <strmif.h>

#include <vector>

#include "framework/ObjectBase.h"
#include "framework/Raii.h"

namespace {

// An object with one extra interface (IPersist) whose IUnknown methods
// forward to the owner, the way every framework interface does.
class Probe : public ObjectBase, public IPersist {
public:
    explicit Probe(IUnknown* owner = nullptr, volatile LONG* destroyed = nullptr)
        : ObjectBase(L"Probe", owner), m_Destroyed(destroyed) {}

    ~Probe() override
    {
        if (m_Destroyed) InterlockedIncrement(m_Destroyed);
        if (m_TouchCountInDestructor) {
            // A destructor that takes and drops a reference must not start
            // a second destruction.
            InnerAddRef();
            InnerRelease();
        }
    }

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override
    {
        if (out && IsEqualIID(iid, IID_IPersist)) return ProvideInterface(static_cast<IPersist*>(this), out);
        return ObjectBase::InnerQueryInterface(iid, out);
    }

    FORWARD_IUNKNOWN_TO_OWNER
    STDMETHODIMP GetClassID(CLSID* id) override
    {
        if (!id) return E_POINTER;
        *id = GUID_NULL;
        return S_OK;
    }

    LONG RefCount() const { return m_RefCount; }
    IPersist* Persist() { return this; }
    bool m_TouchCountInDestructor = false;

private:
    volatile LONG* m_Destroyed;
};

// Takes a reference and drops it: the pair returns the count that held
// while the extra reference existed, so this reads the count without changing it.
ULONG CountOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

} // namespace

TEST(ObjectBaseTest, FirstQueryTakesTheOnlyReferenceAndLastReleaseDestroys)
{
    const LONG liveBefore = LiveObjectCount;
    volatile LONG destroyed = 0;
    Probe* probe = new Probe(nullptr, &destroyed);
    EXPECT_EQ(liveBefore + 1, LiveObjectCount);
    EXPECT_EQ(probe->InnerUnknown(), probe->Owner());
    EXPECT_EQ(0, probe->RefCount());

    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, probe->InnerQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(probe->InnerUnknown(), unknown);
    EXPECT_EQ(1, probe->RefCount());
    EXPECT_EQ(2u, unknown->AddRef());
    EXPECT_EQ(1u, unknown->Release());

    EXPECT_EQ(0u, unknown->Release());
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(liveBefore, LiveObjectCount);
}

TEST(ObjectBaseTest, CountsReportedByInnerAddRefAndRelease)
{
    volatile LONG destroyed = 0;
    Probe* probe = new Probe(nullptr, &destroyed);
    EXPECT_EQ(1u, probe->InnerAddRef());
    EXPECT_EQ(2u, probe->InnerAddRef());
    EXPECT_EQ(1u, probe->InnerRelease());
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(0u, probe->InnerRelease());
    EXPECT_EQ(1, destroyed);
}

TEST(ObjectBaseTest, EveryInterfaceOfAPlainObjectSharesTheInnerCount)
{
    volatile LONG destroyed = 0;
    Probe* probe = new Probe(nullptr, &destroyed);
    IPersist* persist = nullptr;
    ASSERT_EQ(S_OK, probe->InnerQueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)));
    EXPECT_EQ(1, probe->RefCount());

    IUnknown* viaPersist = nullptr;
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaPersist)));
    EXPECT_EQ(probe->InnerUnknown(), viaPersist);
    EXPECT_EQ(2, probe->RefCount());
    EXPECT_EQ(1u, viaPersist->Release());
    EXPECT_EQ(0u, persist->Release());
    EXPECT_EQ(1, destroyed);
}

TEST(ObjectBaseTest, AggregatedObjectForwardsToItsOwner)
{
    const LONG liveBefore = LiveObjectCount;
    volatile LONG outerDestroyed = 0;
    volatile LONG innerDestroyed = 0;
    Probe* outer = new Probe(nullptr, &outerDestroyed);
    outer->InnerAddRef();
    Probe* inner = new Probe(outer->InnerUnknown(), &innerDestroyed);
    EXPECT_EQ(outer->InnerUnknown(), inner->Owner());
    inner->InnerAddRef();

    EXPECT_EQ(2u, inner->Persist()->AddRef());
    EXPECT_EQ(2, outer->RefCount());
    EXPECT_EQ(1, inner->RefCount());
    EXPECT_EQ(1u, inner->Persist()->Release());
    EXPECT_EQ(1, outer->RefCount());

    // A query on a forwarding interface is answered by the owner.
    IPersist* persist = nullptr;
    ASSERT_EQ(S_OK, inner->Persist()->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)));
    EXPECT_EQ(outer->Persist(), persist);
    EXPECT_EQ(2, outer->RefCount());
    persist->Release();

    EXPECT_EQ(0u, inner->InnerRelease());
    EXPECT_EQ(0, outerDestroyed);
    EXPECT_EQ(0u, outer->InnerRelease());
    EXPECT_EQ(1, innerDestroyed);
    EXPECT_EQ(1, outerDestroyed);
    EXPECT_EQ(liveBefore, LiveObjectCount);
}

TEST(ObjectBaseTest, QueryResultCodes)
{
    Probe* probe = new Probe;
    probe->InnerAddRef();

    EXPECT_EQ(E_POINTER, probe->InnerQueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, probe->InnerQueryInterface(IID_IPersist, nullptr));
    EXPECT_EQ(E_POINTER, ProvideInterface(probe->InnerUnknown(), nullptr));
    EXPECT_EQ(1, probe->RefCount());

    const IID unsupported[] = {IID_IBaseFilter, IID_IPin, IID_IClassFactory, GUID_NULL};
    for (const IID& iid : unsupported) {
        void* out = probe;
        EXPECT_EQ(E_NOINTERFACE, probe->InnerQueryInterface(iid, &out));
        EXPECT_EQ(nullptr, out);
    }
    EXPECT_EQ(1, probe->RefCount());
    EXPECT_EQ(0u, probe->InnerRelease());
}

TEST(ObjectBaseTest, ProvideInterfaceAddsTheReferenceThroughTheGivenInterface)
{
    volatile LONG outerDestroyed = 0;
    Probe* outer = new Probe(nullptr, &outerDestroyed);
    outer->InnerAddRef();
    Probe* inner = new Probe(outer->InnerUnknown());
    inner->InnerAddRef();

    void* out = nullptr;
    ASSERT_EQ(S_OK, ProvideInterface(inner->Persist(), &out));
    EXPECT_EQ(static_cast<void*>(inner->Persist()), out);
    EXPECT_EQ(2, outer->RefCount());
    EXPECT_EQ(1, inner->RefCount());

    ASSERT_EQ(S_OK, ProvideInterface(inner->InnerUnknown(), &out));
    EXPECT_EQ(2, inner->RefCount());
    EXPECT_EQ(2, outer->RefCount());

    inner->InnerRelease();
    inner->InnerRelease();
    outer->InnerRelease();
    EXPECT_EQ(0u, outer->InnerRelease());
    EXPECT_EQ(1, outerDestroyed);
}

TEST(ObjectBaseTest, ReferenceTakenInDestructorDoesNotDestroyTwice)
{
    volatile LONG destroyed = 0;
    const LONG liveBefore = LiveObjectCount;
    Probe* probe = new Probe(nullptr, &destroyed);
    probe->m_TouchCountInDestructor = true;
    probe->InnerAddRef();
    EXPECT_EQ(0u, probe->InnerRelease());
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(liveBefore, LiveObjectCount);
}

namespace {

struct ChurnWork {
    IPersist* persist;
    int rounds;
};

DWORD WINAPI ChurnReferences(LPVOID parameter)
{
    ChurnWork* work = static_cast<ChurnWork*>(parameter);
    for (int i = 0; i < work->rounds; ++i) {
        work->persist->AddRef();
        work->persist->AddRef();
        work->persist->Release();
        work->persist->Release();
    }
    // Each thread owns one reference and drops it last.
    work->persist->Release();
    return 0;
}

} // namespace

TEST(ObjectBaseTest, ConcurrentReferencesLoseNothingAndDestroyOnce)
{
    const int threadCount = 4;
    const LONG liveBefore = LiveObjectCount;
    volatile LONG destroyed = 0;
    Probe* probe = new Probe(nullptr, &destroyed);
    for (int i = 0; i < threadCount + 1; ++i) probe->InnerAddRef();

    ChurnWork work = {probe->Persist(), 200000};
    std::vector<HANDLE> threads;
    for (int i = 0; i < threadCount; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, ChurnReferences, &work, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        threads.push_back(thread);
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(threadCount, threads.data(), TRUE, 60000));
    for (HANDLE thread : threads) CloseHandle(thread);

    // Only the test's own reference is left.
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(1, probe->RefCount());
    EXPECT_EQ(0u, probe->InnerRelease());
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(liveBefore, LiveObjectCount);
}

TEST(ObjectBaseTest, LastReleaseRacingOnManyThreadsDestroysOnce)
{
    const int threadCount = 4;
    for (int round = 0; round < 200; ++round) {
        volatile LONG destroyed = 0;
        Probe* probe = new Probe(nullptr, &destroyed);
        for (int i = 0; i < threadCount; ++i) probe->InnerAddRef();
        ChurnWork work = {probe->Persist(), 50};
        HANDLE threads[threadCount];
        for (int i = 0; i < threadCount; ++i) {
            threads[i] = CreateThread(nullptr, 0, ChurnReferences, &work, 0, nullptr);
            ASSERT_NE(nullptr, threads[i]);
        }
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(threadCount, threads, TRUE, 60000));
        for (HANDLE thread : threads) CloseHandle(thread);
        ASSERT_EQ(1, destroyed) << "round " << round;
    }
}

TEST(ObjectBaseTest, NewPlatformAllocatorCreatesAnAllocatorWithOneReference)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        IMemAllocator* allocator = nullptr;
        ASSERT_EQ(S_OK, NewPlatformAllocator(&allocator));
        ASSERT_NE(nullptr, allocator);
        ComPtr<IMemAllocator> held(allocator);
        EXPECT_EQ(1u, CountOf(allocator));

        ALLOCATOR_PROPERTIES request = {2, 4096, 1, 0};
        ALLOCATOR_PROPERTIES actual = {};
        EXPECT_EQ(S_OK, allocator->SetProperties(&request, &actual));
        EXPECT_EQ(2, actual.cBuffers);
        EXPECT_EQ(4096, actual.cbBuffer);
    }
    CoUninitialize();
}

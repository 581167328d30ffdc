#include "tests/support/TaskMemorySpy.h"

namespace {

// State shared with the COM-facing hook object, which outlives any one spy
// because COM may keep it until the last watched block is freed.
struct SpyState {
    CriticalLock lock;
    std::set<const void*> live;
    int failuresPending = 0;
    int successesBeforeFailure = 0;
};

SpyState& State()
{
    static SpyState state;
    return state;
}

} // namespace

class TaskMemorySpy::Hooks : public IMallocSpy {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *out = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: COM's references need no counting.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T request) override
    {
        ScopedLock hold(&State().lock);
        if (request != 0 && State().failuresPending > 0) {
            if (State().successesBeforeFailure > 0) {
                --State().successesBeforeFailure;
                return request;
            }
            --State().failuresPending;
            return 0;
        }
        return request;
    }
    STDMETHODIMP_(void*) PostAlloc(void* actual) override
    {
        if (actual) {
            ScopedLock hold(&State().lock);
            State().live.insert(actual);
        }
        return actual;
    }
    STDMETHODIMP_(void*) PreFree(void* request, BOOL) override
    {
        ScopedLock hold(&State().lock);
        State().live.erase(request);
        return request;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override
    {
        ScopedLock hold(&State().lock);
        State().live.erase(request);
        *newRequest = request;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override { return PostAlloc(actual); }
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}
};

TaskMemorySpy::TaskMemorySpy()
{
    {
        ScopedLock hold(&State().lock);
        State().live.clear();
        State().failuresPending = 0;
    }
    static Hooks hooks;
    m_Registered = SUCCEEDED(CoRegisterMallocSpy(&hooks));
}

TaskMemorySpy::~TaskMemorySpy()
{
    {
        ScopedLock hold(&State().lock);
        State().failuresPending = 0;
    }
    if (m_Registered) CoRevokeMallocSpy();
}

void TaskMemorySpy::FailNextAllocations(int count, int skip)
{
    ScopedLock hold(&State().lock);
    State().failuresPending = count;
    State().successesBeforeFailure = skip;
}

bool TaskMemorySpy::Owns(const void* block) const
{
    ScopedLock hold(&State().lock);
    return State().live.count(block) != 0;
}

size_t TaskMemorySpy::Outstanding() const
{
    ScopedLock hold(&State().lock);
    return State().live.size();
}

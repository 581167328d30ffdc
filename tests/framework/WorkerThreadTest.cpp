#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <functional>
#include <vector>

#include "framework/Sync.h"
#include "framework/WorkerThread.h"

namespace {

const DWORD Deadline = 20000;

// A worker whose body is supplied by the test.
class ScriptedWorker : public WorkerThread {
public:
    explicit ScriptedWorker(std::function<DWORD(ScriptedWorker&)> body) : m_Body(std::move(body)) {}
    ~ScriptedWorker() override { Join(); }

    DWORD ThreadBody() override
    {
        InterlockedIncrement(&m_BodyRuns);
        const DWORD exitCode = m_Body(*this);
        m_BodyEnded.Set();
        return exitCode;
    }

    LONG BodyRuns() const { return m_BodyRuns; }
    bool WaitBodyEnded() { return m_BodyEnded.Wait(Deadline); }

private:
    std::function<DWORD(ScriptedWorker&)> m_Body;
    volatile LONG m_BodyRuns = 0;
    SignalEvent m_BodyEnded{true};
};

const DWORD ExitCommand = 4;

// Answers each command with its code plus 1000 until the exit command.
DWORD EchoUntilExit(ScriptedWorker& worker)
{
    for (;;) {
        const DWORD code = worker.WaitCommand();
        worker.ReplyCommand(static_cast<HRESULT>(code + 1000));
        if (code == ExitCommand) return 0;
    }
}

} // namespace

TEST(WorkerThreadTest, SendCommandWithoutAThreadFailsAtOnce)
{
    ScriptedWorker worker(EchoUntilExit);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(E_FAIL, worker.SendCommand(1));

    // Nothing was posted.
    DWORD code = 77;
    EXPECT_FALSE(worker.PollCommand(&code));
    EXPECT_EQ(77u, code);
    EXPECT_FALSE(worker.PollCommand(nullptr));
}

TEST(WorkerThreadTest, EachCommandGetsItsOwnReply)
{
    ScriptedWorker worker(EchoUntilExit);
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.IsRunning());
    for (DWORD code = 0; code < 4; ++code) EXPECT_EQ(static_cast<HRESULT>(code + 1000), worker.SendCommand(code));
    EXPECT_EQ(1004, worker.SendCommand(ExitCommand));
    worker.Join();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(1, worker.BodyRuns());
}

namespace {

struct SenderWork {
    WorkerThread* worker;
    DWORD base;
    int count;
    int wrongReplies;
};

DWORD WINAPI SendMany(LPVOID parameter)
{
    SenderWork* work = static_cast<SenderWork*>(parameter);
    for (int i = 0; i < work->count; ++i) {
        const DWORD code = work->base + static_cast<DWORD>(i);
        if (work->worker->SendCommand(code) != static_cast<HRESULT>(code + 1000)) ++work->wrongReplies;
    }
    return 0;
}

} // namespace

TEST(WorkerThreadTest, ConcurrentSendersAreSerialised)
{
    ScriptedWorker worker(EchoUntilExit);
    ASSERT_TRUE(worker.Start());

    const int senderCount = 4;
    std::vector<SenderWork> work;
    for (int i = 0; i < senderCount; ++i) work.push_back({&worker, 100u + 10000u * i, 500, 0});
    std::vector<HANDLE> threads;
    for (SenderWork& w : work) threads.push_back(CreateThread(nullptr, 0, SendMany, &w, 0, nullptr));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(senderCount, threads.data(), TRUE, 60000));
    for (HANDLE thread : threads) CloseHandle(thread);
    for (const SenderWork& w : work) EXPECT_EQ(0, w.wrongReplies) << "sender base " << w.base;

    EXPECT_EQ(1004, worker.SendCommand(ExitCommand));
}

TEST(WorkerThreadTest, PolledCommandStaysPostedUntilReplied)
{
    struct Seen {
        DWORD polled = 0;
        DWORD waited = 0;
        DWORD polledAgain = 0;
    } seen;
    ScriptedWorker worker([&seen](ScriptedWorker& self) -> DWORD {
        while (!self.PollCommand(&seen.polled)) Sleep(1);
        self.PollCommand(&seen.polledAgain);
        // Back in an outer loop without replying: the same command is still there.
        seen.waited = self.WaitCommand();
        self.ReplyCommand(S_FALSE);
        return 0;
    });

    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(S_FALSE, worker.SendCommand(3));
    ASSERT_TRUE(worker.WaitBodyEnded());
    EXPECT_EQ(3u, seen.polled);
    EXPECT_EQ(3u, seen.polledAgain);
    EXPECT_EQ(3u, seen.waited);

    // The reply cleared the posted command.
    DWORD code = 55;
    EXPECT_FALSE(worker.PollCommand(&code));
    EXPECT_EQ(55u, code);
}

TEST(WorkerThreadTest, StartCreatesOneThreadUntilJoined)
{
    SignalEvent release(true);
    ScriptedWorker worker([&release](ScriptedWorker&) -> DWORD {
        release.Wait(Deadline);
        return 0;
    });
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.Start());
    release.Set();
    ASSERT_TRUE(worker.WaitBodyEnded());

    // The body has returned but the thread is not joined: still no new thread.
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_FALSE(worker.Start());
    EXPECT_EQ(1, worker.BodyRuns());

    worker.Join();
    EXPECT_FALSE(worker.IsRunning());
    worker.Join();  // joining an idle worker does nothing

    // Joined, the worker can run again.
    ASSERT_TRUE(worker.Start());
    worker.Join();
    EXPECT_EQ(2, worker.BodyRuns());
}

namespace {

struct SendOnce {
    WorkerThread* worker;
    DWORD code;
    HRESULT result;
};

DWORD WINAPI SendOnceFromThread(LPVOID parameter)
{
    SendOnce* send = static_cast<SendOnce*>(parameter);
    send->result = send->worker->SendCommand(send->code);
    return 0;
}

} // namespace

TEST(WorkerThreadTest, CommandToAnEndedBodyFailsInsteadOfBlocking)
{
    ScriptedWorker worker([](ScriptedWorker&) -> DWORD { return 1; });
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(worker.WaitBodyEnded());
    EXPECT_TRUE(worker.IsRunning());

    // Send from a helper thread so that a sender stuck for good fails the test.
    SendOnce send = {&worker, 2, S_OK};
    HANDLE sender = CreateThread(nullptr, 0, SendOnceFromThread, &send, 0, nullptr);
    ASSERT_NE(nullptr, sender);
    const DWORD waited = WaitForSingleObject(sender, Deadline);
    if (waited != WAIT_OBJECT_0) TerminateThread(sender, 1);
    CloseHandle(sender);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "sender still blocked";
    EXPECT_EQ(E_FAIL, send.result);
    EXPECT_FALSE(worker.PollCommand(nullptr));
}

namespace {

// A worker that leaves the joining to WorkerThread's own destructor. Its body
// uses nothing of the object, so it may outlive the subclass part.
class UnjoinedWorker : public WorkerThread {
  public:
    static SignalEvent s_Started;
    static volatile LONG s_Finished;

    DWORD ThreadBody() override
    {
        s_Started.Set();
        Sleep(200);
        InterlockedExchange(&s_Finished, 1);
        return 0;
    }
};

SignalEvent UnjoinedWorker::s_Started{true};
volatile LONG UnjoinedWorker::s_Finished = 0;

} // namespace

TEST(WorkerThreadTest, DestructorWaitsForTheThread)
{
    {
        UnjoinedWorker worker;
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(UnjoinedWorker::s_Started.Wait(Deadline));
    }
    EXPECT_EQ(1, UnjoinedWorker::s_Finished);
}

TEST(WorkerThreadTest, WorkerJoinsTheMultithreadedApartment)
{
    struct Observed {
        HRESULT apartmentQuery = E_FAIL;
        APTTYPE type = APTTYPE_STA;
        HRESULT secondInit = E_FAIL;
        HRESULT apartmentInit = E_FAIL;
    } observed;
    ScriptedWorker worker([&observed](ScriptedWorker&) -> DWORD {
        APTTYPEQUALIFIER qualifier;
        observed.apartmentQuery = CoGetApartmentType(&observed.type, &qualifier);
        // Joining again is counted; joining another apartment is refused.
        observed.secondInit = InitThreadCom();
        if (SUCCEEDED(observed.secondInit)) CoUninitialize();
        observed.apartmentInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(observed.apartmentInit)) CoUninitialize();
        return 0;
    });
    ASSERT_TRUE(worker.Start());
    worker.Join();
    EXPECT_EQ(S_OK, observed.apartmentQuery);
    EXPECT_EQ(APTTYPE_MTA, observed.type);
    EXPECT_EQ(S_FALSE, observed.secondInit);
    EXPECT_EQ(RPC_E_CHANGED_MODE, observed.apartmentInit);
}

namespace {

DWORD WINAPI InitComInApartment(LPVOID parameter)
{
    HRESULT* result = static_cast<HRESULT*>(parameter);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    *result = InitThreadCom();
    if (SUCCEEDED(*result)) CoUninitialize();
    CoUninitialize();
    return 0;
}

} // namespace

TEST(WorkerThreadTest, InitThreadComReportsAnApartmentConflict)
{
    HRESULT result = S_OK;
    HANDLE thread = CreateThread(nullptr, 0, InitComInApartment, &result, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, Deadline));
    DWORD exitCode = 99;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(RPC_E_CHANGED_MODE, result);
}

TEST(SyncTest, EventsResetManuallyOrAutomatically)
{
    SignalEvent manual(true);
    SignalEvent automatic(false);
    ASSERT_NE(nullptr, manual.Handle());
    ASSERT_NE(nullptr, automatic.Handle());
    EXPECT_FALSE(manual.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));

    manual.Set();
    automatic.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));
}

namespace {

struct LockProbe {
    CriticalLock* lock;
    SignalEvent* entered;
};

DWORD WINAPI EnterAndSignal(LPVOID parameter)
{
    LockProbe* probe = static_cast<LockProbe*>(parameter);
    ScopedLock hold(probe->lock);
    probe->entered->Set();
    return 0;
}

} // namespace

TEST(SyncTest, LockIsReentrantAndExcludesOtherThreads)
{
    CriticalLock lock;
    SignalEvent entered(true);
    LockProbe probe = {&lock, &entered};
    HANDLE thread = nullptr;
    {
        ScopedLock outer(&lock);
        {
            ScopedLock inner(&lock);  // the same thread enters again
        }
        thread = CreateThread(nullptr, 0, EnterAndSignal, &probe, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        EXPECT_FALSE(entered.Wait(100));
    }
    EXPECT_TRUE(entered.Wait(Deadline));
    WaitForSingleObject(thread, Deadline);
    CloseHandle(thread);
}

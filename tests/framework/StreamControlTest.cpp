#include <gtest/gtest.h>
#include <windows.h>
#include <evcode.h>

#include <climits>
#include <vector>

#include "framework/StreamControl.h"

namespace {

// The stream control of a pin, with the events it posts recorded.
class RecordingStreamControl : public StreamControl {
  public:
    struct Posted {
        long code;
        DWORD cookie;
        bool operator==(const Posted& other) const { return code == other.code && cookie == other.cookie; }
    };
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // Which of the samples at these times are sent.
    std::vector<REFERENCE_TIME> Sent(const std::vector<REFERENCE_TIME>& times)
    {
        std::vector<REFERENCE_TIME> sent;
        for (REFERENCE_TIME time : times)
            if (Admit(time)) sent.push_back(time);
        return sent;
    }
    std::vector<Posted> m_Posted;

  protected:
    void PostStreamControlEvent(long code, DWORD cookie) override { m_Posted.push_back({code, cookie}); }
};

using Times = std::vector<REFERENCE_TIME>;
using Events = std::vector<RecordingStreamControl::Posted>;
const Times EverySecond = {0, 10000000, 20000000, 30000000, 40000000, 50000000};

TEST(StreamControlTest, AStartAndAStopMakeAWindowAndPostTheirCookies)
{
    RecordingStreamControl control;
    AM_STREAM_INFO info;
    ASSERT_EQ(S_OK, control.GetInfo(&info));
    EXPECT_EQ(0u, info.dwFlags); // without instructions every sample goes
    EXPECT_EQ(E_POINTER, control.GetInfo(nullptr));
    const REFERENCE_TIME start = 15000000, stop = 40000000;
    ASSERT_EQ(S_OK, control.StartAt(&start, 7));
    ASSERT_EQ(S_OK, control.StopAt(&stop, FALSE, 8));
    ASSERT_EQ(S_OK, control.GetInfo(&info));
    EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_START_DEFINED | AM_STREAM_INFO_STOP_DEFINED), info.dwFlags);
    EXPECT_EQ(start, info.tStart);
    EXPECT_EQ(8u, info.dwStopCookie);

    EXPECT_EQ((Times{20000000, 30000000}), control.Sent(EverySecond));
    EXPECT_EQ((Events{{EC_STREAM_CONTROL_STARTED, 7}, {EC_STREAM_CONTROL_STOPPED, 8}}), control.m_Posted);
    ASSERT_EQ(S_OK, control.GetInfo(&info));
    EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_DISCARDING), info.dwFlags);
}

TEST(StreamControlTest, NowNeverAndTheExtraSample)
{
    RecordingStreamControl control;
    // Stop now, with one more sample: that one goes, then nothing.
    ASSERT_EQ(S_OK, control.StopAt(nullptr, TRUE, 1));
    EXPECT_EQ((Times{0}), control.Sent(EverySecond));
    // Start now: the next sample goes, and the stream flows again.
    ASSERT_EQ(S_OK, control.StartAt(nullptr, 2));
    EXPECT_EQ(EverySecond, control.Sent(EverySecond));
    // A stop cancelled with "never" does not happen; a start "never" stops the stream.
    const REFERENCE_TIME later = 20000000, never = LLONG_MAX;
    ASSERT_EQ(S_OK, control.StopAt(&later, FALSE, 3));
    ASSERT_EQ(S_OK, control.StopAt(&never, FALSE, 4));
    EXPECT_EQ(EverySecond, control.Sent(EverySecond));
    ASSERT_EQ(S_OK, control.StartAt(&never, 5));
    EXPECT_TRUE(control.Sent(EverySecond).empty());
    EXPECT_EQ((Events{{EC_STREAM_CONTROL_STOPPED, 1}, {EC_STREAM_CONTROL_STARTED, 2}}), control.m_Posted);
    // While the stream time is unknown, only "now" is reached.
    ASSERT_EQ(S_OK, control.StartAt(&later, 6));
    EXPECT_FALSE(control.Admit(StreamControl::UnknownTime));
    ASSERT_EQ(S_OK, control.StartAt(nullptr, 9));
    EXPECT_TRUE(control.Admit(StreamControl::UnknownTime));
}

} // namespace

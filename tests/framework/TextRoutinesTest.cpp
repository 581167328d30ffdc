#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <limits.h>
#include <string>
#include <wchar.h>

#include "framework/ModuleGlobals.h"
#include "framework/TextRoutines.h"
#include "pages/resource.h"
#include "tests/support/TaskMemorySpy.h"

TEST(TextRoutinesTest, CopyWideBoundedAlwaysTerminatesWithinCapacity)
{
    struct Case {
        const wchar_t* source;
        size_t capacity;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"abcdefghij", 4, L"abc"},
        {L"abcdefghij", 1, L""},
        {L"abcdefghij", 10, L"abcdefghi"},
        {L"abcdefghij", 11, L"abcdefghij"},
        {L"abc", 64, L"abc"},
        {L"", 8, L""},
    };
    for (const Case& c : cases) {
        wchar_t buffer[80];
        wmemset(buffer, L'#', 80);
        EXPECT_EQ(buffer, CopyWideBounded(buffer, c.source, c.capacity));
        EXPECT_STREQ(c.expected, buffer) << "capacity " << c.capacity;
        // Nothing is written past the terminator's slot.
        const size_t written = wcslen(c.expected) + 1;
        EXPECT_EQ(L'#', buffer[written]) << "capacity " << c.capacity;
    }

    wchar_t untouched[4] = {L'x', L'y', L'z', L'\0'};
    CopyWideBounded(untouched, L"abc", 0);
    EXPECT_STREQ(L"xyz", untouched);
}

TEST(TextRoutinesTest, WideLengthCountsUpToTheTerminator)
{
    EXPECT_EQ(0u, WideLength(L""));
    EXPECT_EQ(8u, WideLength(L"~Capture"));
    EXPECT_EQ(2u, WideLength(L"ab\0cd"));
}

TEST(TextRoutinesTest, FormatDecimalWide)
{
    struct Case {
        int value;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {12, L"12"}, {-5, L"-5"}, {0, L"0"}, {1, L"1"}, {INT_MAX, L"2147483647"}, {INT_MIN, L"-2147483648"},
    };
    for (const Case& c : cases) {
        wchar_t buffer[32];
        wmemset(buffer, L'#', 32);
        FormatDecimalWide(c.value, buffer);
        EXPECT_STREQ(c.expected, buffer) << c.value;
    }
}

TEST(TextRoutinesTest, DuplicateWideToTask)
{
    TaskMemorySpy spy;
    ASSERT_TRUE(spy.Registered());

    EXPECT_EQ(E_POINTER, DuplicateWideToTask(L"Format", nullptr));

    const wchar_t* texts[] = {L"Format", L""};
    for (const wchar_t* text : texts) {
        wchar_t* copy = nullptr;
        ASSERT_EQ(S_OK, DuplicateWideToTask(text, &copy));
        ASSERT_NE(nullptr, copy);
        EXPECT_NE(text, copy);
        EXPECT_STREQ(text, copy);
        EXPECT_TRUE(spy.Owns(copy));
        CoTaskMemFree(copy);
    }

    wchar_t* failed = reinterpret_cast<wchar_t*>(&spy);
    spy.FailNextAllocations(1);
    EXPECT_EQ(E_OUTOFMEMORY, DuplicateWideToTask(L"Format", &failed));
    EXPECT_EQ(nullptr, failed);
    EXPECT_EQ(0u, spy.Outstanding());
}

namespace {

// Loads with the given platform identifier and restores the recorded one.
std::wstring LoadWithPlatform(DWORD platform, int id)
{
    const DWORD saved = PlatformId;
    PlatformId = platform;
    wchar_t buffer[256];
    wmemset(buffer, L'#', 256);
    LoadResourceText(buffer, id);
    PlatformId = saved;
    return buffer;
}

} // namespace

TEST(TextRoutinesTest, LoadResourceTextWideAndAnsiAgree)
{
    const DWORD platforms[] = {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS, 1};
    for (DWORD platform : platforms) {
        EXPECT_EQ(L"Camera Set", LoadWithPlatform(platform, IDS_CAMERA_SET_TITLE)) << platform;
        EXPECT_EQ(L"Format", LoadWithPlatform(platform, IDS_FORMAT_TITLE)) << platform;
        // A missing string leaves the buffer empty, not holding earlier contents.
        EXPECT_EQ(L"", LoadWithPlatform(platform, 31999)) << platform;
    }
}

namespace {

struct DialogTrace {
    LPARAM initParameter = 0;
    HWND window = nullptr;
    bool destroyed = false;
};

INT_PTR CALLBACK TracingDialogProc(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    static DialogTrace* trace = nullptr;
    if (message == WM_INITDIALOG) {
        trace = reinterpret_cast<DialogTrace*>(lParam);
        trace->initParameter = lParam;
        trace->window = window;
        return TRUE;
    }
    if (message == WM_DESTROY && trace && trace->window == window) trace->destroyed = true;
    return FALSE;
}

} // namespace

TEST(TextRoutinesTest, MeasureDialogReportsTheSizeAndDestroysTheDialog)
{
    DialogTrace trace;
    SIZE size = {-1, -1};
    ASSERT_TRUE(MeasureDialog(IDD_FORMAT_PAGE, TracingDialogProc, reinterpret_cast<LPARAM>(&trace), &size));
    EXPECT_EQ(reinterpret_cast<LPARAM>(&trace), trace.initParameter);
    EXPECT_TRUE(trace.destroyed);
    EXPECT_FALSE(IsWindow(trace.window));

    // The template is 210 x 124 dialog units: the pixel size grows with both.
    EXPECT_GT(size.cx, 0);
    EXPECT_GT(size.cy, 0);
    EXPECT_GT(size.cx, size.cy);

    SIZE untouched = {7, 9};
    EXPECT_FALSE(MeasureDialog(31999, TracingDialogProc, 0, &untouched));
    EXPECT_EQ(7, untouched.cx);
    EXPECT_EQ(9, untouched.cy);
}

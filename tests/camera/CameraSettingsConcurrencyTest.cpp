// Settings read and written from several threads, and property pages
// attached and detached, while both pins of the filter stream in Wine's
// filter graph. Runs 15 s; QUILLON_LONG_TESTS=1 makes it 60 s.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/ICameraConfig.h"
#include "sdk/QuillonSim.h"
#include "tests/support/CameraGraph.h"
#include "tests/support/FilterModule.h"
#include "tests/support/ProcessCounters.h"

namespace {

const size_t SettingsFileBytes = 51;
// Offsets of the three colour gains in the file (blue, green, red).
const size_t BlueGainOffset = 32;
const size_t GreenGainOffset = 36;
const size_t RedGainOffset = 40;

DWORD RunSeconds()
{
    const char* longRun = getenv("QUILLON_LONG_TESTS");
    return longRun && atoi(longRun) != 0 ? 60 : 15;
}

unsigned int Word(const std::vector<unsigned char>& bytes, size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | static_cast<unsigned int>(bytes[offset + 3]) << 24;
}

// Reads the file the way an outside observer would: sharing everything, so
// that the reading never stands in the writers' way.
bool ReadShared(const std::string& path, std::vector<unsigned char>& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.assign(4096, 0);
    DWORD got = 0;
    const BOOL read = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(read ? got : 0);
    return read != FALSE;
}

struct SharedState {
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::atomic<long> failures{0};
    std::atomic<long> fileReads{0};
    std::atomic<long> badFiles{0};
    std::atomic<long> pageAttachments{0};
    std::string settingsPath;
    IBaseFilter* filter = nullptr;
};

struct WorkerArgs {
    SharedState* shared;
    int index;
};

// Gets, changes and sets the settings through the filter's ICameraConfig.
// Every record written carries three equal gains, so a torn file shows.
DWORD WINAPI SettingsWorker(void* parameter)
{
    const WorkerArgs& args = *static_cast<WorkerArgs*>(parameter);
    SharedState& shared = *args.shared;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        ComPtr<ICameraConfig> config;
        if (FAILED(shared.filter->QueryInterface(IID_ICameraConfig, config.putVoid()))) {
            ++shared.failures;
        } else {
            for (unsigned int round = 0; !shared.stop; ++round) {
                CameraConfig record;
                if (config->GetConfig(&record) != S_OK) ++shared.failures;
                const unsigned int gain = 40 + args.index * 20 + round % 16;
                record.m_RedGain = record.m_GreenGain = record.m_BlueGain = gain;
                record.m_Gamma = static_cast<unsigned char>(50 + round % 100);
                record.m_Saturation = static_cast<unsigned char>(round);
                record.m_AeState = 0;
                record.m_ExposureTime = 10 + round % 500;
                // Now and then a new resolution, which only takes effect at the next start.
                if (round % 7 == 0) record.m_Format.m_Resolution = static_cast<unsigned char>(round % 4);
                if (config->SetConfig(&record) != S_OK) ++shared.failures;
                shared.calls += 2;
            }
        }
    }
    CoUninitialize();
    return 0;
}

// Checks that the file is always whole: 51 bytes of one record.
DWORD WINAPI FileReader(void* parameter)
{
    SharedState& shared = *static_cast<SharedState*>(parameter);
    std::vector<unsigned char> bytes;
    while (!shared.stop) {
        if (ReadShared(shared.settingsPath, bytes)) {
            ++shared.fileReads;
            bool whole = bytes.size() == SettingsFileBytes;
            if (whole) {
                const unsigned int red = Word(bytes, RedGainOffset);
                const unsigned int green = Word(bytes, GreenGainOffset);
                const unsigned int blue = Word(bytes, BlueGainOffset);
                const bool defaults = red == 100 && green == 88 && blue == 88;
                whole = defaults || (red == green && green == blue);
            }
            if (!whole) ++shared.badFiles;
        }
        Sleep(1);
    }
    return 0;
}

// Attaches and detaches both property pages, as a host opening the
// filter's property frame does.
DWORD WINAPI PageWorker(void* parameter)
{
    SharedState& shared = *static_cast<SharedState*>(parameter);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        const auto getClassObject = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"QuillonFilter.dll"), "DllGetClassObject")));
        const CLSID pages[] = {CLSID_CameraSettingsPage, CLSID_FormatPage};
        for (unsigned int round = 0; !shared.stop; ++round) {
            ComPtr<IClassFactory> factory;
            ComPtr<IPropertyPage> page;
            if (!getClassObject || FAILED(getClassObject(pages[round % 2], IID_IClassFactory, factory.putVoid())) ||
                FAILED(factory->CreateInstance(nullptr, IID_IPropertyPage, page.putVoid()))) {
                ++shared.failures;
                break;
            }
            IUnknown* object = shared.filter;
            if (FAILED(page->SetObjects(1, &object)) || FAILED(page->SetObjects(0, nullptr))) ++shared.failures;
            ++shared.pageAttachments;
            Sleep(5);
        }
    }
    CoUninitialize();
    return 0;
}

class CameraSettingsConcurrencyTest : public FilterModuleTest {};

TEST_F(CameraSettingsConcurrencyTest, SettingsAndPagesWhileStreamingNeitherDeadlockNorTearTheFile)
{
    CameraGraph rig;
    ComPtr<IBaseFilter> filter = NewFilter();
    ASSERT_EQ(S_OK, rig.Build(filter.get()));
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(WaitUntil([&] { return rig.m_PreviewSink->Samples() >= 3; }));

    SharedState shared;
    shared.settingsPath = SettingsPath();
    shared.filter = filter.get();
    const int Writers = 4;
    WorkerArgs args[Writers];
    std::vector<HANDLE> threads;
    for (int i = 0; i < Writers; ++i) {
        args[i] = WorkerArgs{&shared, i};
        threads.push_back(CreateThread(nullptr, 0, SettingsWorker, &args[i], 0, nullptr));
    }
    threads.push_back(CreateThread(nullptr, 0, FileReader, &shared, 0, nullptr));
    threads.push_back(CreateThread(nullptr, 0, PageWorker, &shared, 0, nullptr));
    for (HANDLE thread : threads) ASSERT_NE(nullptr, thread);

    // Both pins keep streaming all along: checked once a second.
    const DWORD seconds = RunSeconds();
    int quietSeconds = 0;
    for (DWORD second = 0; second < seconds; ++second) {
        const LONG capture = rig.m_CaptureSink->Samples();
        const LONG preview = rig.m_PreviewSink->Samples();
        Sleep(1000);
        if (rig.m_CaptureSink->Samples() == capture || rig.m_PreviewSink->Samples() == preview) ++quietSeconds;
    }
    shared.stop = true;
    // A deadlock would keep a thread from ever seeing the stop.
    const DWORD joined = WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 20000);
    EXPECT_EQ(WAIT_OBJECT_0, joined) << "a settings or page thread did not finish";
    for (HANDLE thread : threads) CloseHandle(thread);

    EXPECT_EQ(0, quietSeconds);
    EXPECT_EQ(0, shared.failures.load());
    EXPECT_EQ(0, shared.badFiles.load());
    EXPECT_LT(100, shared.calls.load());
    EXPECT_LT(100, shared.fileReads.load());
    EXPECT_LT(10, shared.pageAttachments.load());

    // The last record written is the one on disk.
    ComPtr<ICameraConfig> config;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_ICameraConfig, config.putVoid()));
    CameraConfig last;
    ASSERT_EQ(S_OK, config->GetConfig(&last));
    last.m_Format.m_Resolution = 2;
    last.m_RedGain = last.m_GreenGain = last.m_BlueGain = 77;
    ASSERT_EQ(S_OK, config->SetConfig(&last));
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(ReadShared(SettingsPath(), bytes));
    ASSERT_EQ(SettingsFileBytes, bytes.size());
    EXPECT_EQ(2, bytes[0]);
    EXPECT_EQ(77u, Word(bytes, RedGainOffset));

    EXPECT_EQ(S_OK, rig.Stop());
}

}  // namespace

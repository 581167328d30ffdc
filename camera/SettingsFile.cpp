#include "camera/SettingsFile.h"

#include "framework/Raii.h"

#include <windows.h>
#include <cstddef>
#include <cstdio>

const char SettingsFileName[] = "Brisca Camera.config";

namespace {

const DWORD TempPathCapacity = 8192;

// One field of the file: where it lives in the record and how many bytes it
// takes. Fields are stored at their own width, little-endian, in this order.
struct FieldSlot {
    size_t offset;
    size_t size;
};

#define CONFIG_FIELD(member)                                                                                 \
    FieldSlot                                                                                                \
    {                                                                                                        \
        offsetof(CameraConfig, member), sizeof(CameraConfig::member)                                         \
    }

// offsetof on a class with a virtual destructor is conditionally supported;
// gcc and MSVC both give the plain member offset.
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
const FieldSlot FileFields[] = {
    {offsetof(CameraConfig, m_Format) + offsetof(CameraFormat, m_Resolution), 1},
    {offsetof(CameraConfig, m_Format) + offsetof(CameraFormat, m_FormatWords) + 2 * 4, 4},
    {offsetof(CameraConfig, m_Format) + offsetof(CameraFormat, m_FormatWords) + 3 * 4, 4},
    {offsetof(CameraConfig, m_Format) + offsetof(CameraFormat, m_FormatWords) + 0 * 4, 4},
    {offsetof(CameraConfig, m_Format) + offsetof(CameraFormat, m_FormatWords) + 1 * 4, 4},
    {offsetof(CameraConfig, m_Format) + offsetof(CameraFormat, m_FormatValue), 4},
    CONFIG_FIELD(m_AeState),
    CONFIG_FIELD(m_Target),
    CONFIG_FIELD(m_AnalogGain),
    CONFIG_FIELD(m_ExposureTime),
    CONFIG_FIELD(m_BlueGain),
    CONFIG_FIELD(m_GreenGain),
    CONFIG_FIELD(m_RedGain),
    CONFIG_FIELD(m_Contrast),
    CONFIG_FIELD(m_Saturation),
    CONFIG_FIELD(m_ColorEnhancement),
    CONFIG_FIELD(m_Gamma),
};
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif

#undef CONFIG_FIELD

unsigned char* FieldAddress(CameraConfig& record, const FieldSlot& slot)
{
    return reinterpret_cast<unsigned char*>(&record) + slot.offset;
}

const unsigned char* FieldAddress(const CameraConfig& record, const FieldSlot& slot)
{
    return reinterpret_cast<const unsigned char*>(&record) + slot.offset;
}

// A temporary sibling of the settings file, unique to this thread, so that
// concurrent writers never share a half-written file.
std::string TemporarySibling(const std::string& path)
{
    char suffix[64];
    snprintf(suffix, sizeof(suffix), ".%lu.%lu.tmp", GetCurrentProcessId(), GetCurrentThreadId());
    return path + suffix;
}

// A reader and a replacement of the file exclude each other for a moment;
// either side retries a sharing refusal for up to this many milliseconds.
const int SharingAttempts = 200;

bool SharingRefused(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

FILE* OpenForReading(const std::string& path)
{
    for (int attempt = 0; attempt < SharingAttempts; ++attempt) {
        FILE* file = fopen(path.c_str(), "rb");
        if (file || !SharingRefused(GetLastError())) return file;
        Sleep(1);
    }
    return nullptr;
}

// Readers and the replacement of the file take turns, across processes: a
// reader holds the file open for a moment, and a replacement over an open
// file is refused, so a busy reader could otherwise starve every write.
class FileTurn {
public:
    FileTurn() : m_Mutex(CreateMutexA(nullptr, FALSE, "Brisca Camera settings file"))
    {
        if (!m_Mutex) return;
        const DWORD waited = WaitForSingleObject(m_Mutex.get(), TurnWaitMilliseconds);
        m_Owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~FileTurn()
    {
        if (m_Owned) ReleaseMutex(m_Mutex.get());
    }
    FileTurn(const FileTurn&) = delete;
    FileTurn& operator=(const FileTurn&) = delete;

private:
    // Past this the file is used without a turn; sharing retries still apply.
    static const DWORD TurnWaitMilliseconds = 2000;
    UniqueHandle m_Mutex;
    bool m_Owned = false;
};

// Replaces the settings file with the written sibling.
bool ReplaceWith(const std::string& temporary, const std::string& path)
{
    for (int attempt = 0; attempt < SharingAttempts; ++attempt) {
        if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        if (!SharingRefused(GetLastError())) return false;
        Sleep(1);
    }
    return false;
}

bool ReplaceInTurn(const std::string& temporary, const std::string& path)
{
    FileTurn turn;
    return ReplaceWith(temporary, path);
}

bool WriteFields(const std::string& path, const CameraConfig& record)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool complete = true;
    for (const FieldSlot& slot : FileFields) {
        if (fwrite(FieldAddress(record, slot), 1, slot.size, file) != slot.size) complete = false;
    }
    if (fclose(file) != 0) complete = false;
    return complete;
}

} // namespace

std::string SettingsFilePath()
{
    char directory[TempPathCapacity];
    const DWORD length = GetTempPathA(TempPathCapacity, directory);
    if (length == 0 || length >= TempPathCapacity) return std::string();
    return std::string(directory, length) + SettingsFileName;
}

int ReadSettingsFile(CameraConfig& record)
{
    const std::string path = SettingsFilePath();
    if (path.empty()) return 0;
    FileTurn turn;
    FILE* file = OpenForReading(path);
    if (!file) return 0;
    // A short read fills the leading bytes of a field and leaves the rest as
    // it was; later fields read nothing.
    for (const FieldSlot& slot : FileFields) {
        if (fread(FieldAddress(record, slot), 1, slot.size, file) != slot.size) break;
    }
    fclose(file);
    return 1;
}

int WriteSettingsFile(const CameraConfig& record)
{
    const std::string path = SettingsFilePath();
    if (path.empty()) return 0;
    const std::string temporary = TemporarySibling(path);
    if (!WriteFields(temporary, record) || !ReplaceInTurn(temporary, path)) {
        DeleteFileA(temporary.c_str());
        return 0;
    }
    return 1;
}

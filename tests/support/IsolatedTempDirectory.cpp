#include "tests/support/IsolatedTempDirectory.h"

#include <windows.h>
#include <cstdio>

namespace {

bool ReadVariable(const char* name, std::string& value)
{
    char buffer[8192];
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer)) return false;
    value.assign(buffer, length);
    return true;
}

void RestoreVariable(const char* name, bool had, const std::string& value)
{
    SetEnvironmentVariableA(name, had ? value.c_str() : nullptr);
}

} // namespace

IsolatedTempDirectory::IsolatedTempDirectory()
{
    m_HadTmp = ReadVariable("TMP", m_OldTmp);
    m_HadTemp = ReadVariable("TEMP", m_OldTemp);

    char base[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof(base), base);
    std::string root(base, length);
    static LONG sequence = 0;
    char name[96];
    snprintf(name, sizeof(name), "quillon-test-%lu-%ld", GetCurrentProcessId(),
             InterlockedIncrement(&sequence));
    m_Path = root + name;
    CreateDirectoryA(m_Path.c_str(), nullptr);
    m_Path += "\\";
    SetEnvironmentVariableA("TMP", m_Path.c_str());
    SetEnvironmentVariableA("TEMP", m_Path.c_str());
}

IsolatedTempDirectory::~IsolatedTempDirectory()
{
    for (const std::string& name : FileNames())
        DeleteFileA((m_Path + name).c_str());
    RemoveDirectoryA(m_Path.c_str());
    RestoreVariable("TMP", m_HadTmp, m_OldTmp);
    RestoreVariable("TEMP", m_HadTemp, m_OldTemp);
}

std::vector<std::string> IsolatedTempDirectory::FileNames() const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((m_Path + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::vector<unsigned char> ReadWholeFile(const std::string& path)
{
    std::vector<unsigned char> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    unsigned char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return bytes;
}

bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

#include "tools/capture/ConsoleOutput.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace {

void WriteText(DWORD handleId, const wchar_t* text) {
    HANDLE handle = GetStdHandle(handleId);
    if (!handle || handle == INVALID_HANDLE_VALUE) return;
    const int length = static_cast<int>(wcslen(text));
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text, length, &written, nullptr);
        return;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], bytes, nullptr, nullptr);
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void WriteFormatted(DWORD handleId, const wchar_t* format, va_list arguments) {
    wchar_t buffer[2048];
    const int length = vswprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), format, arguments);
    if (length < 0) buffer[sizeof(buffer) / sizeof(buffer[0]) - 1] = L'\0';
    WriteText(handleId, buffer);
}

}  // namespace

void PrintOut(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteFormatted(STD_OUTPUT_HANDLE, format, arguments);
    va_end(arguments);
}

void PrintError(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteFormatted(STD_ERROR_HANDLE, format, arguments);
    va_end(arguments);
}

bool OutputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::wstring DescribeResult(HRESULT result) {
    wchar_t code[16];
    swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result));
    std::wstring text = code;
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(result), 0,
                                        reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length && message) {
        std::wstring description(message, length);
        while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r' ||
                                        description.back() == L' ' || description.back() == L'.'))
            description.pop_back();
        if (!description.empty()) text += L" (" + description + L")";
    }
    if (message) LocalFree(message);
    return text;
}

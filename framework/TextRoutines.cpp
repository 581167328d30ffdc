#include "framework/TextRoutines.h"

#include <objbase.h>

#include "framework/ModuleGlobals.h"

namespace {

const int ResourceTextCapacity = 256;
const int DecimalBufferSize = 32;

} // namespace

wchar_t* CopyWideBounded(wchar_t* destination, const wchar_t* source, size_t capacity)
{
    if (capacity == 0) return destination;
    size_t copied = 0;
    while (copied + 1 < capacity && source[copied] != L'\0') {
        destination[copied] = source[copied];
        ++copied;
    }
    destination[copied] = L'\0';
    return destination;
}

size_t WideLength(const wchar_t* text)
{
    size_t length = 0;
    while (text[length] != L'\0') ++length;
    return length;
}

void FormatDecimalWide(int value, wchar_t* destination)
{
    char digits[DecimalBufferSize];
    wsprintfA(digits, "%d", value);
    MultiByteToWideChar(CP_ACP, 0, digits, -1, destination, DecimalBufferSize);
}

HRESULT DuplicateWideToTask(const wchar_t* text, wchar_t** out)
{
    if (!out) return E_POINTER;
    const size_t characters = WideLength(text) + 1;
    *out = static_cast<wchar_t*>(CoTaskMemAlloc(characters * sizeof(wchar_t)));
    if (!*out) return E_OUTOFMEMORY;
    CopyMemory(*out, text, characters * sizeof(wchar_t));
    return S_OK;
}

wchar_t* LoadResourceText(wchar_t* buffer, int id)
{
    buffer[0] = L'\0';
    if (PlatformId == VER_PLATFORM_WIN32_NT) {
        LoadStringW(ModuleInstance, static_cast<UINT>(id), buffer, ResourceTextCapacity);
        return buffer;
    }
    char ansi[ResourceTextCapacity];
    if (LoadStringA(ModuleInstance, static_cast<UINT>(id), ansi, ResourceTextCapacity) > 0) {
        if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, buffer, ResourceTextCapacity) == 0) buffer[0] = L'\0';
    }
    return buffer;
}

bool MeasureDialog(int templateId, DLGPROC procedure, LPARAM parameter, SIZE* size)
{
    HWND dialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(templateId), GetDesktopWindow(), procedure,
                                     parameter);
    if (!dialog) return false;
    RECT bounds;
    GetWindowRect(dialog, &bounds);
    if (size) {
        size->cx = bounds.right - bounds.left;
        size->cy = bounds.bottom - bounds.top;
    }
    DestroyWindow(dialog);
    return true;
}

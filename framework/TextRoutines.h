// Wide-string and module resource helpers.
#ifndef QUILLON_TEXT_ROUTINES_H
#define QUILLON_TEXT_ROUTINES_H

#include <windows.h>

wchar_t* CopyWideBounded(wchar_t* destination, const wchar_t* source, size_t capacity);
size_t WideLength(const wchar_t* text);
void FormatDecimalWide(int value, wchar_t* destination);
HRESULT DuplicateWideToTask(const wchar_t* text, wchar_t** out);
// buffer holds 256 wide characters.
wchar_t* LoadResourceText(wchar_t* buffer, int id);
bool MeasureDialog(int templateId, DLGPROC procedure, LPARAM parameter, SIZE* size);

#endif

// Text output of the capture tool: to the console as wide text, or UTF-8
// when the output is redirected to a file or a pipe.
#ifndef BRISCACAP_CONSOLE_OUTPUT_H
#define BRISCACAP_CONSOLE_OUTPUT_H

#include <windows.h>

#include <string>

void PrintOut(const wchar_t* format, ...);
void PrintError(const wchar_t* format, ...);
// True when standard output is an interactive console, where a progress line
// can be rewritten in place.
bool OutputIsConsole();
// "0x80040216 (text)" for a result code, with the system's text when it has one.
std::wstring DescribeResult(HRESULT result);

#endif

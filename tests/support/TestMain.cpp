// Entry point of every test program: the program itself stands in for the
// module, so windows, dialogs and resources come from the test executable.
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/ModuleGlobals.h"

int main(int argc, char** argv)
{
    ModuleInstance = GetModuleHandleA(nullptr);
    PlatformId = VER_PLATFORM_WIN32_NT;
    // A crash or failed assertion must end the run, never wait for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

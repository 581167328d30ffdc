// Holds a module as a running capture program does: loads it, with the
// libraries beside it that it imports, prints "loaded" and keeps it loaded
// until the stop file appears (or ten minutes have passed).
// Usage: ModuleHolder MODULE STOP_FILE; exit code 2 when it cannot load it.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    const DWORD giveUpAfterMilliseconds = 10 * 60 * 1000;
    if (argc != 3) return 1;
    HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        std::fprintf(stderr, "%s could not be loaded (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    std::printf("loaded\n");
    std::fflush(stdout);
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < giveUpAfterMilliseconds)
        Sleep(50);
    FreeLibrary(module);
    return 0;
}

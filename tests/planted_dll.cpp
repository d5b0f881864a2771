// A DLL that stands for one a stranger leaves beside the program.
#include <windows.h>

extern "C" __declspec(dllexport) int planted()
{
    return 1;
}

/* Says what kind of Windows process it runs in, for tests/product/wow64_test.sh:
 * "bits=32 wow64=1 arg=..." for a 32-bit program under WoW64. The argument
 * is printed as UTF-8, so the test sees whether non-ASCII letters arrived. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    BOOL wow64 = FALSE;
    char arg[512] = "";
    if (!IsWow64Process(GetCurrentProcess(), &wow64))
        return 2;
    if (argc > 1 && !WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, arg, sizeof arg, NULL, NULL))
        return 3;
    printf("bits=%d wow64=%d arg=%s\n", (int)(sizeof(void *) * 8), wow64 ? 1 : 0, arg);
    return 0;
}

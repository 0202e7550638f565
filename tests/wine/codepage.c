/* Prints the output code page of the console it runs in, so that a test can
 * see whether a program before it left the console as it found it. */
#include <stdio.h>
#include <windows.h>

int wmain(void)
{
    printf("%u\n", GetConsoleOutputCP());
    return 0;
}

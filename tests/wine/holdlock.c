/* Holds the lock a save of rfcard.exe takes, as another run in the middle of
 * its save would: an exclusive lock on the first byte of the lock file, from
 * the moment it prints "held" until the file RELEASE exists.
 *   holdlock.exe FILE RELEASE */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    OVERLAPPED at = {0};
    if (file == INVALID_HANDLE_VALUE || !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at))
        return 1;
    printf("held\n");
    fflush(stdout);
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    return 0;
}

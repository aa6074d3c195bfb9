/* Starts a program with an exact command line, taken from the environment
 * variable LAUNCH_COMMAND_LINE, waits for it and exits with its exit code. A
 * test can so hand the child any command line, quotes and blanks included,
 * without Wine re-quoting an argument vector. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
    (void)instance;
    (void)previous;
    (void)tail;
    (void)show;
    static char commandLine[32768];
    DWORD length = GetEnvironmentVariableA("LAUNCH_COMMAND_LINE", commandLine, sizeof commandLine);
    if (length == 0 || length >= sizeof commandLine) {
        return 0x7FFFFFFE;
    }
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD exitCode = 0xFFFFFFFFu;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        return 0x7FFFFFFF;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)exitCode;
}

#include <windows.h>

#include "cmdline/argument_tail.h"
#include "driver/run_sequence.h"

// The tail is cut from the process command line here rather than taken from
// WinMain's argument: mingw-w64's start-up code ends a quoted program name only
// at the next blank, so "C:\x y\qoramark.exe"HKCU would lose its first word.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return qoramark::runQoramark(qoramark::commandLineTailAfterProgramName(GetCommandLineA()));
}

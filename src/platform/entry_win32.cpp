#include <windows.h>

#include "driver/run_sequence.h"

// The start-up code has already cut the program's own name and the blanks
// after it off the command line; commandLineTail is the rest, unchanged.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLineTail, int) {
    return qoramark::runQoramark(commandLineTail != nullptr ? commandLineTail : "");
}

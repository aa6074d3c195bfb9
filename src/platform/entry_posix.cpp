#include "cmdline/argument_tail.h"
#include "driver/run_sequence.h"

int main(int argc, char** argv) {
    return qoramark::runQoramark(qoramark::commandLineTailFromArguments(argc, argv));
}

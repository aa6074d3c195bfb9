/* A stand-in for the syslog library, for end-to-end tests of how the program
   calls it. Each call is appended as one line to clsyslog-calls.txt in the
   current folder; SlInitialize answers with the number in
   CLSYSLOG_STAND_IN_STATUS, 0 when that is unset. Nothing is sent. */
#include <stdio.h>
#include <stdlib.h>

#include "clsyslog.h"

static void recordCall(const char* line) {
    FILE* calls = fopen("clsyslog-calls.txt", "ab");
    if (calls != NULL) {
        fputs(line, calls);
        fputc('\n', calls);
        fclose(calls);
    }
}

CLSYSLOG_API int CLSYSLOG_CALL SlInitialize(void) {
    const char* status = getenv("CLSYSLOG_STAND_IN_STATUS");
    recordCall("SlInitialize");
    return status != NULL ? atoi(status) : 0;
}

CLSYSLOG_API int CLSYSLOG_CALL SlSendMessageA(const char* host, int facility, int severity,
                                              const char* text) {
    FILE* calls = fopen("clsyslog-calls.txt", "ab");
    if (calls != NULL) {
        fprintf(calls, "SlSendMessageA %d %d %s %s\n", facility, severity, host, text);
        fclose(calls);
    }
    return 0;
}

CLSYSLOG_API int CLSYSLOG_CALL SlUninitialize(void) {
    recordCall("SlUninitialize");
    return 0;
}

/* clsyslog: a small syslog client library with a C interface.
   Every operation returns 0 on success and nonzero otherwise; nothing is printed. */
#ifndef CLSYSLOG_H
#define CLSYSLOG_H

#if defined(_WIN32)
#define CLSYSLOG_CALL __cdecl
#if defined(CLSYSLOG_BUILDING)
#define CLSYSLOG_API __declspec(dllexport)
#else
#define CLSYSLOG_API __declspec(dllimport)
#endif
#else
#define CLSYSLOG_CALL
#define CLSYSLOG_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the library ready for sending (starts Winsock on Windows). */
CLSYSLOG_API int CLSYSLOG_CALL SlInitialize(void);

/* Sends text as one RFC 5424 message with the given facility (0..23) and
   severity (0..7). host is name, name:port, an IPv6 address or [v6]:port,
   optionally prefixed udp:// (the default) or tcp://; the port defaults to 514.
   Returns within about 5 seconds, the look-up of a host name included. */
CLSYSLOG_API int CLSYSLOG_CALL SlSendMessageA(const char* host, int facility, int severity,
                                              const char* text);

/* Ends what SlInitialize began. */
CLSYSLOG_API int CLSYSLOG_CALL SlUninitialize(void);

/* The operations' types, for callers that bind the library at run time. */
typedef int(CLSYSLOG_CALL* SlInitializeFunction)(void);
typedef int(CLSYSLOG_CALL* SlSendMessageAFunction)(const char*, int, int, const char*);
typedef int(CLSYSLOG_CALL* SlUninitializeFunction)(void);

#ifdef __cplusplus
}
#endif

#endif

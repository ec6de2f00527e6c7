// Logging service: syslog (ident "vornpms", facility LOCAL6) and, in the
// foreground, standard error. Every line names its kind, source and line.
#pragma once

#include <functional>
#include <string>

// Current verbosity 0-4: a debug line is written only while its level is at
// most this value.
extern int VORN_MSG_DEBUG_LEVEL;

void vornMSG_Setup(const char* ident, int option, int facility, int unused);

void vornMSG_DebugFL(const char* file, int line, int level, int mask, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));
void vornMSG_ErrorFL(const char* file, int line, int code, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
void vornMSG_WarningFL(const char* file, int line, int code, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
// Adds ": <strerror(errno)>" of the errno current at the call.
void vornMSG_ErrorErrnoFL(const char* file, int line, int code, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
void vornMSG_InfoFL(const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// A line written to syslog as it stands (no kind, file or line): the
// "BILLING posted" line and the main loop's read time-out note.
void vornMSG_Syslog(int priority, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Also copy every line to standard error (foreground, and before detaching);
// not when standard error is the journal, which gets the syslog copy already.
void vornMSG_SetStderr(bool on);
bool vornMSG_GetStderr();

// Values that must never appear in a line (database and SFTP passwords); each
// occurrence is written as "****". Texts shorter than four bytes are not masked.
void vornMSG_AddSecret(const std::string& secret);
void vornMSG_ClearSecrets();

// Test hook: receives each finished line (after masking) with its syslog
// priority; pass an empty function to remove it.
using LogSink = std::function<void(int priority, const std::string& line)>;
void vornMSG_SetSink(LogSink sink);

// Each source file defines `static constexpr char kLogSrc[] = "dir/name";`
// (its path below src/ without extension) before using these.
#define VLOG_DEBUG(level, mask, ...) vornMSG_DebugFL(kLogSrc, __LINE__, (level), (mask), __VA_ARGS__)
#define VLOG_ERROR(code, ...) vornMSG_ErrorFL(kLogSrc, __LINE__, (code), __VA_ARGS__)
#define VLOG_WARN(code, ...) vornMSG_WarningFL(kLogSrc, __LINE__, (code), __VA_ARGS__)
#define VLOG_ERRNO(code, ...) vornMSG_ErrorErrnoFL(kLogSrc, __LINE__, (code), __VA_ARGS__)
#define VLOG_INFO(...) vornMSG_InfoFL(kLogSrc, __LINE__, __VA_ARGS__)

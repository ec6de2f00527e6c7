#include "platform/log.h"

#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/syslog_conn.h"
#include "utils/strutils.h"

int VORN_MSG_DEBUG_LEVEL = 0;

namespace {

bool g_to_stderr = false;
bool g_stderr_may_break = true;  // a pipe or socket, whose reader can go
std::vector<std::string> g_secrets;
LogSink g_sink;

__attribute__((format(printf, 1, 0))) std::string vformat(const char* fmt, va_list ap) {
    return strVFormat(fmt, ap).value_or("(unformattable log line)");
}

void mask_secrets(std::string& line) {
    for (const auto& secret : g_secrets) {
        if (secret.empty()) continue;
        for (size_t pos = line.find(secret); pos != std::string::npos;
             pos = line.find(secret, pos + 4)) {
            line.replace(pos, secret.size(), "****");
        }
    }
}

// Writes one line to standard error with SIGPIPE held back: a terminal or pipe
// reader that has gone must not reach the daemon's SIGPIPE handler, which
// would take it for a broken PMS link and close that. False when the reader
// has gone.
bool write_stderr(const std::string& line) {
    if (!g_stderr_may_break) return write(STDERR_FILENO, line.data(), line.size()) >= 0 || errno != EPIPE;
    sigset_t pipe_only, old;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
    ssize_t n = write(STDERR_FILENO, line.data(), line.size());
    int err = errno;
    if (n < 0 && err == EPIPE && !sigismember(&old, SIGPIPE)) {
        // Take back the SIGPIPE this write raised; it was not pending before.
        timespec none{0, 0};
        sigtimedwait(&pipe_only, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return !(n < 0 && err == EPIPE);
}

void emit(int priority, std::string line) {
    mask_secrets(line);
    syslog_conn_send(priority, line);
    if (g_to_stderr) {
        line.push_back('\n');
        // One write per line so that lines of concurrent writers do not mix.
        // Once the reader has gone, stop copying.
        if (!write_stderr(line)) g_to_stderr = false;
        line.pop_back();
    }
    if (g_sink) g_sink(priority, line);
}

std::string prefixed(const char* kind, const char* file, int line, int code, const std::string& text) {
    char head[256];
    snprintf(head, sizeof head, "%s %s:%d [%d] ", kind, file, line, code);
    return head + text;
}

}  // namespace

void vornMSG_Setup(const char* ident, int option, int facility, int) {
    syslog_conn_setup(ident, option | LOG_PID, facility);
}

void vornMSG_DebugFL(const char* file, int line, int level, int mask, const char* fmt, ...) {
    if (level > VORN_MSG_DEBUG_LEVEL) return;
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    char kind[16];
    snprintf(kind, sizeof kind, "DEBUG%d", level);
    emit(LOG_DEBUG, prefixed(kind, file, line, mask, text));
}

void vornMSG_ErrorFL(const char* file, int line, int code, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    emit(LOG_ERR, prefixed("ERROR", file, line, code, text));
}

void vornMSG_WarningFL(const char* file, int line, int code, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    emit(LOG_WARNING, prefixed("WARNING", file, line, code, text));
}

void vornMSG_ErrorErrnoFL(const char* file, int line, int code, const char* fmt, ...) {
    int saved = errno;
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    text += ": ";
    text += strerror(saved);
    emit(LOG_ERR, prefixed("ERROR", file, line, code, text));
    errno = saved;
}

void vornMSG_InfoFL(const char* file, int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    char head[256];
    snprintf(head, sizeof head, "INFO %s:%d ", file, line);
    emit(LOG_INFO, head + text);
}

void vornMSG_Syslog(int priority, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    emit(priority, text);
}

namespace {

// True when standard error is the journal's stream ($JOURNAL_STREAM holds its
// "device:inode"): the syslog copy of each line reaches the journal already,
// with its priority, so a second copy through standard error would show every
// line twice.
bool stderr_is_journal() {
    const char* stream = getenv("JOURNAL_STREAM");
    if (stream == nullptr) return false;
    unsigned long long dev = 0, ino = 0;
    if (sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    if (fstat(STDERR_FILENO, &st) != 0) return false;
    return static_cast<unsigned long long>(st.st_dev) == dev && static_cast<unsigned long long>(st.st_ino) == ino;
}

}  // namespace

void vornMSG_SetStderr(bool on) {
    g_to_stderr = on && !stderr_is_journal();
    // A terminal or a file raises no SIGPIPE: no need to hold it back per line.
    struct stat st {};
    g_stderr_may_break = fstat(STDERR_FILENO, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}
bool vornMSG_GetStderr() { return g_to_stderr; }

void vornMSG_AddSecret(const std::string& secret) {
    // A very short password would mask ordinary words in every line; where the
    // daemon logs a password itself it writes "****" in its place anyway.
    if (secret.size() < 4) return;
    for (const auto& s : g_secrets)
        if (s == secret) return;
    g_secrets.push_back(secret);
}

void vornMSG_ClearSecrets() { g_secrets.clear(); }

void vornMSG_SetSink(LogSink sink) { g_sink = std::move(sink); }

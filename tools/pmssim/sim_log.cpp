#include "sim_log.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "vendors/common/control_bytes.h"

void sim_log(SimDir dir, std::string_view text) {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    struct tm tm {};
    localtime_r(&tv.tv_sec, &tm);
    std::string line;
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld ", tm.tm_hour, tm.tm_min, tm.tm_sec,
             static_cast<long>(tv.tv_usec / 1000));
    line += stamp;
    line += dir == SimDir::Received ? "<- " : dir == SimDir::Sent ? "-> " : "-- ";
    for (unsigned char c : text) {
        if (const char* name = ctl::name(static_cast<char>(c))) {
            line += '<';
            line += name;
            line += '>';
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            snprintf(hex, sizeof hex, "<%02X>", c);
            line += hex;
        } else {
            line += static_cast<char>(c);
        }
    }
    line += '\n';
    fputs(line.c_str(), stdout);
    fflush(stdout);
}

void sim_note(const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    sim_log(SimDir::Note, buf);
}

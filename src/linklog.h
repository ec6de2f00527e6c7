// The link traffic log: every byte read from or written to the PMS, one line
// per event ("<time> <mark> <text>"), flushed line by line so that it can be
// followed live and rotated (close, then open again, on SIGHUP).
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum LinkLogDirection : int {
    kLinkLogRead = 0,     // '<' data from the PMS
    kLinkLogWritten = 1,  // '>' data to the PMS
    kLinkLogEvent = 2,    // '*' the log's own events
};

// Already open: writes "Logging reinitialized" and keeps the file. Otherwise
// opens `path` for appending and writes "Logging initialized". 1 on success,
// 0 (log closed) without a path or when the file cannot be opened.
int linklog_open(const std::optional<std::string>& path);
// Writes "Logging terminated" and closes the file, when open.
void linklog_close();
// One line; the text ends at its first NUL byte. Nothing while closed.
void linklog_write(int direction, std::string_view text);
bool linklog_is_open();
// What SIGHUP asks for: close, then open on the current LINKLOGFILE.
void linklog_reopen();

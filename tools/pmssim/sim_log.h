// The simulator's trace: one line per record sent or received and per note,
// each with a time stamp, flushed at once so that a pipe sees it immediately.
#pragma once

#include <string_view>

enum class SimDir { Received, Sent, Note };

// "HH:MM:SS.mmm <- LS|DA261208|TI024113|"; control bytes are written <STX>.
void sim_log(SimDir dir, std::string_view text);
void sim_note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

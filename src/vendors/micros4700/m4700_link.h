// Micros 4700 on the PMS link: every exchange is a request, the PMS's ACK,
// its answer and our ACK. This module reads one message (answering the
// PMS's ENQ on the way) and sends one message until it is acknowledged.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

// The vendor's lasting state.
struct M4700State {
    // Settings, re-read at every start.
    int timeout = 10;         // PMSCOMMTIMEOUT, seconds for every read
    int rooms_per_run = 5;    // NUM_ROOMS_CACHED_PER_RUN
    int cache_age_hours = 4;  // ROOM_CACHE_AGE_IN_HOURS
    // History, kept across restarts for the status request: "GI" after a
    // names answer, "PA" after a posting.
    std::string last_code;
    time_t last_code_time = 0;
};
M4700State& m4700_state();

// One message from SOH to EOT, acknowledged. > 0: its length, with `msg` set
// to the text between SOH and EOT; 0: time-out; -1: failure or a byte that
// starts no message.
int micros4700_read_msg_timeout(const M4700State& st, std::string& msg);
// Frames `text` (header, sum, EOT) and sends it, at most three times, until
// the PMS acknowledges it. True when acknowledged.
bool micros4700_write_msg(const M4700State& st, std::string_view text);

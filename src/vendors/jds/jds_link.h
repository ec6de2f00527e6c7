// JDS on the PMS link: reading one acknowledged record, sending one record
// until the PMS acknowledges its sequence number, and waiting for an answer
// while handing every other record to the dispatcher.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "vendor.h"

// The vendor's lasting state.
struct JdsState {
    // Settings, re-read at every start.
    int retries = 4;  // MSG_RETRIES
    int psi_no = 0;   // PSI_NO
    // History, kept across restarts for the status requests.
    std::string last_code;
    time_t last_code_time = 0;
    int swap_flag = 0;
    time_t swap_time = 0;
};
JdsState& jds_state();

// One record within `timeout` seconds, acknowledged (or refused) with its
// sequence number. > 0: its length, with `record` set; 0 or -1: none.
int jds_read_msg_timeout(JdsState& st, int timeout, std::string& record);
// The same with PMSCOMMTIMEOUT (3 s when absent).
int jds_read_msg(JdsState& st, std::string& record);
// Handles every record waiting on the link.
void jds_read_msg_flush(JdsState& st);
// Drains the link, then sends `body` until the PMS acknowledges it.
ReqResult jds_send(JdsState& st, const std::string& body);
// Sends "ACK"/"NAK" for `seq` (nothing when MSG_RETRIES is below 1).
void jds_write_link_resp(const JdsState& st, char code, std::string_view seq);

// After a request: reads records until one of code `code` comes, handing
// every other record to the dispatcher. nullopt when the link falls silent.
std::optional<std::string> jds_await(JdsState& st, std::string_view code);

// FIAS framing and link-level handshake: STX body ETX [LRC] frames, ACK/NAK
// and ENQ on a serial link, plain frames on TCP, the failure counter that
// closes the link, draining before a send and waiting for an answer.
#pragma once

#include <ctime>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "vendors/fias/fias_profile.h"

// True when frames on the current link carry an LRC and are acknowledged
// (RS232, or every link for a vendor that always works that way).
bool fias_serial_rules(const FiasVendor& v);

// Reads one record: > 0 with `body` set (without STX, ETX and LRC), 0 on
// time-out, -1 on error.
int fias_read_msg(FiasVendor& v, IoWait timeout, std::string& body);
// With the PMSCOMMTIMEOUT / FLUSHTIMEOUT time-out.
int fias_read_response(FiasVendor& v, std::string& body);
int fias_read_flush(FiasVendor& v, std::string& body);

// Frames and sends a body; 1 sent (and acknowledged on RS232), else 0.
int fias_write_msg(FiasVendor& v, std::string_view body);
// Sends a complete frame and runs the acknowledgement handshake.
int fias_write_frame(FiasVendor& v, std::string_view frame);

// STX body ETX, plus the LRC on a serial link.
std::string fias_frame(const FiasVendor& v, std::string_view body);

// Builds a frame of a record that carries the time of sending. On a serial
// link an LRC of ENQ or 0 makes it rebuild DA/TI with the seconds raised by
// 1, 2 and 3. `body_of` makes the body from DA and TI (nullopt: failure).
// `bad_text` is the debug format logged on a collision ("%c", "%s").
std::optional<std::string> fias_stamped_frame(
    const FiasVendor& v, time_t when, const std::function<std::optional<std::string>(const std::string& da, const std::string& ti)>& body_of,
    const FmtText<char, const char*>& bad_text);

// Reads and dispatches whatever the PMS has sent before a request goes out.
// `op` names the operation, `what` completes "trying to <what> but found
// mesg on pipe". Returns the number of records drained.
int fias_drain(FiasVendor& v, const std::string& op, const char* what);

// An answer (PL or PA) read where it was not awaited, while the PMS started
// the link again inside the wait for it: kept (the last 8) for fias_await.
// False for any other record.
bool fias_keep_answer(FiasVendor& v, const std::string& record);

// Reads answers until one of `types` arrives (true, `answer` set); other
// records are dispatched. false when a read times out or fails.
bool fias_await(FiasVendor& v, std::initializer_list<std::string_view> types, std::string& answer);

// Counts a link failure (time-out); closes the link when more than 10.
void fias_count_failure(FiasVendor& v, const char* what);

// Regal's wire rules: frames without an LRC on every link type, each frame
// read answered ACK (NAK when it was cut off), ENQ answered with the last
// answer given, and a send that waits 10 seconds for the PMS's answer byte
// without ever sending ENQ.
#pragma once

#include <string>
#include <string_view>

#include "vendors/fias/fias_profile.h"

// A frame's text must arrive within this many seconds of the byte before it.
inline constexpr int kRegalTextSeconds = 2;
// How long a send waits for the PMS's answer byte.
inline constexpr int kRegalAnswerSeconds = 10;

// The profile's reading rule: > 0 with `body` set, 0 nothing (usable) read,
// -1 link error.
int regal_read_msg(FiasVendor& v, IoWait timeout, std::string& body);
// The profile's sending rule for a framed record: 1 acknowledged, else 0.
int regal_write_frame(FiasVendor& v, std::string_view frame);

// Client side of the control port, for the command-line clients and tests:
// sends one request and collects the daemon's answer.
#pragma once

#include "platform/fmt_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Seconds each read of an answer may wait.
inline constexpr int PMS_CLIENT_READ_TIMEOUT_S = 5;

struct PmsAnswer {
    std::optional<std::string> text;  // first type-02 text, else the type-03 text
    int type = 0;                     // 2 answer, 3 result
    int code = 0;                     // the type-03 result code; 0 for an answer
};

// Connects to host:port, sends one type-01 request of `subtype` whose data is
// `fields` joined by "|", and reads messages until the daemon closes the
// connection. nullopt when no connection or no message was obtained.
std::optional<PmsAnswer> pms_MakeRequest(const std::string& host, uint16_t port, int subtype,
                                         const std::vector<std::string>& fields);

// A type-02 answer starting with "1" (a type-03 text explains a failure, even
// one that happens to start with "1").
bool pms_answerIsSuccess(const std::optional<PmsAnswer>& answer);

// Main of vornpms_db_swap and vornpms_rt_billing: "-p port" (default 5656,
// low 16 bits), one request without fields; 0 when the answer is "1...".
int pms_simpleClientMain(int argc, char* argv[], int subtype, const FmtText<int>& sending_fmt,
                         const char* success_text);

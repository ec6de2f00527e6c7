// Operator commands, from standard input, a script or the hotel file. A
// command changes the hotel model and may produce an event for the protocol
// module, or asks the main loop to pause (sleep, wait) or stop.
#pragma once

#include <string>
#include <vector>

#include "sim_event.h"
#include "sim_hotel.h"

enum class SimCmdKind {
    None,   // comment, blank line, or a change of the model alone
    Event,  // `event` is to be sent
    Sleep,  // pause the command stream for `seconds`
    Wait,   // pause until `what` happens ("link", "connect" or a record type), at most `seconds`
    Fault,  // arm the fault `what` (with `seconds`, below 0 when not given), or make noise
    Show,   // print the hotel
    Help,   // print the commands
    Quit,
    Error,  // `error` says why
};

struct SimCmd {
    SimCmdKind kind = SimCmdKind::None;
    SimEvent event;
    std::vector<SimEvent> more;  // further events of the same command, sent after `event`
    double seconds = 0;
    std::string what;
    std::string error;
};

// Parses one line and applies it to the hotel.
SimCmd sim_run_command(const std::string& line, SimHotel& hotel);

// Reads a hotel file: every line a command (room, guest, folio, message,
// refuse); nothing is sent. false with `error` ("FILE:LINE: why").
bool sim_load_hotel(const std::string& path, SimHotel& hotel, std::string& error);

// The command summary printed by "help" and --help.
const char* sim_command_help();

// The daemon's command line: options "c:CDd:vhIL:".
#pragma once

#include <optional>

// Parses the options into the process-wide state. Returns the exit status when
// the program ends here (-v, -C, -h, an unknown option, a bad -d level) and
// nullopt when the daemon is to start. -C is acted on after every option has
// been read, so that "-C -c file" lists that file.
std::optional<int> pms_parse_cmdline(int argc, char* argv[]);

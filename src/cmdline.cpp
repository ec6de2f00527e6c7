#include "cmdline.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "config.h"
#include "settings.h"
#include "platform/log.h"
#include "start_dir.h"
#include "state.h"

static constexpr char kLogSrc[] = "main";

namespace {

constexpr char kUsage[] =
    "Usage: %s [-c file] [-C] [-D] [-d level] [-v]\n"
    "where\n"
    "\t-c file  Configuration file to use [pms.cfg]\n"
    "\t-C\t   Configuration file settings and descriptions\n"
    "\t-D\t   Do not daemonize (for debugging purposes)\n"
    "\t-d level Debugging verbosity level (0-4 inclusive)\n"
    "\t-v\t   Display version information and exit\n"
    "\n\n";

// -C: list every setting in the file, describe every setting the daemon
// reads and warn about each value it would not read as intended; an
// unreadable file has already been reported by config_init. Status 0 always.
int listConfiguration() {
    if (config_init()) {
        config_dump();
        config_describe_and_check();
    }
    config_free();
    return 0;
}

}  // namespace

std::optional<int> pms_parse_cmdline(int argc, char* argv[]) {
    const char* prog = argc > 0 ? argv[0] : kProgramName;
    bool list_config = false;
    pms_remember_start_dir();
    optind = 0;  // full reset, so that the parser can run more than once
    int opt;
    while ((opt = getopt(argc, argv, "c:CDd:vhIL:")) != -1) {
        switch (opt) {
            case 'c':
                // Re-read at every reconnect, after detaching has changed to "/".
                g_config_file = pms_path_from_start(optarg);
                break;
            case 'C':
                list_config = true;
                break;
            case 'D':
                g_daemonize = 0;
                break;
            case 'd': {
                long level = strtol(optarg, nullptr, 10);
                if (level < 0 || level > 4) {
                    printf("Invalid debug level; 0-4 incl.\n");
                    fflush(stdout);
                    return 1;
                }
                VORN_MSG_DEBUG_LEVEL = static_cast<int>(level);
                break;
            }
            case 'v':
                printf("%s: Version %s\n\n", prog, kVersion);
                fflush(stdout);
                return 0;
            case 'I':
                g_rooms_init = 0;
                break;
            case 'L':
                g_lockfile = optarg;
                VLOG_DEBUG(4, 1000, "lockfile path [%s]", g_lockfile.c_str());
                break;
            default:
                printf(kUsage, prog);
                fflush(stdout);
                return 1;
        }
    }
    if (list_config) return listConfiguration();
    return std::nullopt;
}

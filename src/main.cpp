#include <cstdio>

#include "cmdline.h"
#include "platform/daemon.h"
#include "platform/log.h"
#include "state.h"
#include "version.h"

static constexpr char kLogSrc[] = "main";

int main(int argc, char* argv[]) {
    g_vendor_id = -1;
    g_last_post = 0;
    vornMSG_Setup(kProgramName, 0, 176, 0);
    // Until the daemon detaches, its lines also go to the terminal.
    vornMSG_SetStderr(true);
    check_platform_version();

    if (auto status = pms_parse_cmdline(argc, argv)) return *status;

    // A foreground run (-D) holds the lock file too, so that no second daemon
    // with the same lock file starts beside it.
    if (!g_daemonize && vornDAEMON_TakeLock(g_lockfile.c_str()) != 0) {
        VLOG_ERROR(1000, "main: Unable to start PMS");
        return 1;
    }
    fprintf(stderr,
            "%s: the database, control port and PMS link are not built in yet; "
            "the daemon cannot run.\n",
            argv[0]);
    vornDAEMON_DaemonCleanup(g_daemonize);
    return 1;
}

#include <ctime>
#include <optional>

#include "cmdline.h"
#include "mainloop.h"
#include "platform/daemon.h"
#include "platform/log.h"
#include "platform/notify.h"
#include "pms_init.h"
#include "service.h"
#include "state.h"
#include "version.h"

static constexpr char kLogSrc[] = "main";

namespace {

// Every way out of a started daemon gives its lock file back.
int finish(int status) {
    vornDAEMON_DaemonCleanup(g_daemonize);
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    g_vendor_id = -1;
    g_last_post = 0;
    vornMSG_Setup(kProgramName, 0, 176, 0);
    // Until the daemon detaches, its lines also go to the terminal.
    vornMSG_SetStderr(true);
    check_platform_version();
    // A service manager that waits for our notifications supervises the
    // process it started: detaching would lose it.
    if (notify_enabled()) g_daemonize = 0;

    if (std::optional<int> status = pms_parse_cmdline(argc, argv)) return *status;

    VLOG_DEBUG(4, 1000, "main: calling pms_init");
    if (!pms_init()) {
        VLOG_ERROR(1000, "main: Unable to start PMS");
        return finish(1);
    }
    g_last_scan = time(nullptr);
    std::optional<unsigned> postdelay = pms_read_postdelay();
    if (!postdelay) return finish(0);
    pms_service_ready();
    return finish(pms_execute(*postdelay));
}

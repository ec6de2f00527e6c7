#include "state.h"

int g_vendor_id = -1;
int pms_fd_client = -1;
int pms_fd_server = -1;
int g_daemonize = 1;
std::string g_lockfile = "/var/lock/vornpms";
int g_rooms_init = 0;
time_t g_last_scan = 0;
time_t g_last_post = 0;

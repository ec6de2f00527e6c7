// Process-wide state of the daemon, one instance each.
#pragma once

#include <ctime>
#include <string>

extern int g_vendor_id;       // index in the vendor registry; -1 while none is selected
extern int pms_fd_client;     // PMS link descriptor; -1 while the link is closed
extern int pms_fd_server;     // listening control socket; -1 while there is none
extern int g_daemonize;       // 1: the next pms_init detaches; cleared by -D and after detaching
extern std::string g_lockfile;  // "/var/lock/vornpms"; -L replaces it
extern int g_rooms_init;      // cleared by -I; nothing sets it
extern time_t g_last_scan;    // time of the last scan-and-post cycle
extern time_t g_last_post;    // time of the last successful posting

inline constexpr const char* kProgramName = "vornpms";
inline constexpr const char* kVersion = "0.24.2";

// The directory the daemon was started from. Detaching changes to "/", so a
// relative path given on the command line or in the configuration (-c,
// LINKLOGFILE, VIPFILE) is resolved against the start directory instead.
#pragma once

#include <string>

// Records the current directory as the start directory (first call only).
void pms_remember_start_dir();
// `path` when it is absolute or empty, else the start directory joined with it
// (the current directory when none was recorded).
std::string pms_path_from_start(const std::string& path);

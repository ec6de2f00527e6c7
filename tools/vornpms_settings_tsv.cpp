// Build-time helper, not installed: prints the daemon's settings tables as
// tab-separated lines, from which the build writes vornpms.cfg(5).
#include <cstdio>

#include "settings.h"

int main() {
    config_settings_write_tsv(stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

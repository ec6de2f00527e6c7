#include "version.h"

#include <cstdio>
#include <cstdlib>

#include "platform/log.h"
#include "platform/rdi.h"

static constexpr char kLogSrc[] = "version";

bool pms_platform_compatible() {
    char arg[4];
    snprintf(arg, sizeof arg, "%d", 16);
    std::optional<std::string> reply = vrdi_ask_the_driver(320, arg);
    if (!reply || reply->empty()) return false;
    long v = strtol(reply->c_str(), nullptr, 10);
    return v == 0 || v == 59;
}

void check_platform_version() {
    if (pms_platform_compatible()) return;
    VLOG_ERROR(1000, "This binary was not built for this version of VornGate");
    exit(-1);
}

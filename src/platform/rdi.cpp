#include "platform/rdi.h"

#include <cstdlib>

#include "platform/log.h"

static constexpr char kLogSrc[] = "platform/rdi";

namespace {
constexpr int kPlatformVersionRequest = 320;
}

std::optional<std::string> vrdi_ask_the_driver(int request, const char*) {
    if (request != kPlatformVersionRequest) return std::nullopt;
    // Without the gateway platform the check passes; the variable lets an
    // installation (and the tests) state the platform version explicitly.
    const char* v = getenv("VORNPMS_PLATFORM_VERSION");
    return std::string(v != nullptr ? v : "59");
}

int vrdi_set_reg_expiry_time(const char* mac, long expiry) {
    VLOG_INFO("vrdi_set_reg_expiry_time: mac [%s] expires at %ld", mac ? mac : "", expiry);
    return 210;
}

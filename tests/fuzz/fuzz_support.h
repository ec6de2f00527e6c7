// Shared by the fuzz targets: a check that aborts (so libFuzzer records the
// input) and silencing of the log, whose lines would otherwise dominate the
// run and flood the host's syslog.
#pragma once

#include <syslog.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/log.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

inline std::string_view fuzz_text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

inline void fuzz_quiet() {
    setlogmask(LOG_MASK(LOG_EMERG));
    vornMSG_SetStderr(false);
}

// Every target defines fuzz_one(); this wires it to libFuzzer.
void fuzz_one(std::string_view input);

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_one(fuzz_text(data, size));
    return 0;
}

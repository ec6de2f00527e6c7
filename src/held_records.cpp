#include "held_records.h"

#include <array>
#include <deque>

#include "platform/log.h"

static constexpr char kLogSrc[] = "held_records";

namespace {

// FIAS GI/GO/GC, Agilysys CI, the line vendors' and transaction-id vendors'
// CHKI/CHKR/CHKC/CHKO/CMOV, JDS guest information 53.
constexpr std::array<std::string_view, 10> kGuestCodes = {"GI",   "GO",   "GC",   "CI",   "CHKI",
                                                          "CHKR", "CHKC", "CHKO", "CMOV", "53"};

std::deque<std::string> g_held;
bool g_full_logged = false;

}  // namespace

bool held_record_code(std::string_view code) {
    for (std::string_view c : kGuestCodes)
        if (c == code) return true;
    return false;
}

bool held_records_push(const std::string& code, const std::string& record) {
    if (g_held.size() >= kHeldRecordsMax) {
        if (!g_full_logged)
            VLOG_ERROR(0, "database unreachable and %zu PMS records held: further guest records are dropped",
                       kHeldRecordsMax);
        g_full_logged = true;
        VLOG_ERROR(0, "held record dropped [%s]", record.c_str());
        return false;
    }
    g_held.push_back(record);
    VLOG_WARN(0, "database unreachable: %s record held until it is back (%zu held) [%s]", code.c_str(), g_held.size(),
              record.c_str());
    return true;
}

size_t held_records_count() { return g_held.size(); }

void held_records_replay(const std::function<bool()>& db_up, const std::function<void(const std::string&)>& apply) {
    if (g_held.empty() || !db_up()) return;
    VLOG_INFO("database back: applying %zu held PMS records", g_held.size());
    while (!g_held.empty()) {
        const std::string record = g_held.front();
        apply(record);
        if (!db_up()) {
            VLOG_WARN(0, "database lost again while applying held records; %zu kept", g_held.size());
            return;
        }
        g_held.pop_front();
    }
    g_full_logged = false;
}

void held_records_clear() {
    g_held.clear();
    g_full_logged = false;
}

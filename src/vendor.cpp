#include "vendor.h"

#include "db.h"
#include "held_records.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "vendor";

namespace {

struct VendorEntry {
    int id;
    const char* name;     // VENDOR must equal it exactly
    VendorFactory factory;  // nullptr: named, but not built into this daemon
    VendorTraits traits{};
};

// Traits of the vendors that differ from the defaults.
constexpr VendorTraits kDrivenByScan{.waits_on_link = false};          // files fetched at each scan
constexpr VendorTraits kScansAfterSilence{.record_restarts_wait = true};  // scan only when the PMS is quiet
constexpr VendorTraits kNeverPosts{.scans_charges = false};             // the PMS takes no charges

// The registry: one row per vendor, in id order. Each row sits on its own
// lines so that vendors added on separate branches merge without touching
// each other's rows.
constexpr std::array<VendorEntry, VENDOR_COUNT> kVendorRegistry = {{
    {VENDOR_MICROS_FIDELIO, "Micros-Fidelio 2-way", micfid_vendor_descriptor},
    {VENDOR_MARRIOTT, "Marriott 2-way", marriott_vendor_descriptor},
    {VENDOR_HILTON_ONQ, "Hilton OnQ 2-way", honq_vendor_descriptor},
    {VENDOR_AGILYSYS, "Agilysys 2-way", agilysys_vendor_descriptor},
    {VENDOR_JDS, "JDS 2-way", jds_vendor_descriptor},
    {VENDOR_MARRIOTT_FOSSE, "MarriottFOSSE 2-way", fosse_vendor_descriptor},
    {VENDOR_GALAVU, "GalaVu 2-way", galavu_vendor_descriptor, kScansAfterSilence},
    {VENDOR_GALAXY, "Galaxy 2-way", galaxy_vendor_descriptor},
    {VENDOR_REGAL, "Regal 2-way", regal_vendor_descriptor},
    {VENDOR_HNMUX, "HN MUX 2-way", hnmux_vendor_descriptor},
    {VENDOR_MICROS4700, "Micros4700 1.5-way", micros4700_vendor_descriptor},
    {VENDOR_OPTIMA, "Optima 2-way", optima_vendor_descriptor},
    {VENDOR_PROTEL, "Protel 2-way", protel_vendor_descriptor},
    {VENDOR_NITEVISION_SFTP, "NiteVisionSFTP 1-way", nv_vendor_descriptor, kDrivenByScan},
    {VENDOR_HTNG, "HTNG 2-way", htng_vendor_descriptor, kNeverPosts},
}};

constexpr bool rowsInIdOrder() {
    for (int i = 0; i < VENDOR_COUNT; ++i)
        if (kVendorRegistry[i].id != i) return false;
    return true;
}
static_assert(rowsInIdOrder(), "registry row i must carry vendor id i");

std::array<VendorFactory, VENDOR_COUNT> g_overrides{};
// Descriptors built so far, by id; each is built once and kept.
std::array<std::optional<VendorDescriptor>, VENDOR_COUNT> g_built;
VendorDescriptor* g_current = nullptr;
int g_current_id = -1;

VendorFactory factory_for(int id) {
    return g_overrides[id] ? g_overrides[id] : kVendorRegistry[id].factory;
}

}  // namespace

constinit const std::array<const char*, VENDOR_COUNT> kVendorNames = [] {
    std::array<const char*, VENDOR_COUNT> names{};
    for (int i = 0; i < VENDOR_COUNT; ++i) names[i] = kVendorRegistry[i].name;
    return names;
}();

bool vendor_is_built(int id) { return id >= 0 && id < VENDOR_COUNT && factory_for(id) != nullptr; }

void vendor_set_factory(int id, VendorFactory factory) {
    if (id < 0 || id >= VENDOR_COUNT) return;
    g_overrides[id] = factory;
    if (g_built[id] && g_current == &*g_built[id]) g_current = nullptr;
    g_built[id].reset();
}

int vendor_init(std::string_view name) {
    VLOG_DEBUG(1, 0, "Entering vendor_init.. initializing vendor layer");

    g_current = nullptr;
    const std::string wanted(name);
    for (const VendorEntry& entry : kVendorRegistry) {
        if (wanted != entry.name) continue;
        const VendorFactory factory = factory_for(entry.id);
        if (!factory) {
            // Named, but this build carries no implementation for it.
            VLOG_ERROR(0, "Failed to initalize vendor [%s]", wanted.c_str());
            return -1;
        }
        std::optional<VendorDescriptor>& built = g_built[entry.id];
        if (!built) {
            built = factory();
            // The registry name is authoritative: VENDOR is matched against it.
            built->name = entry.name;
        }
        g_current = &*built;
        g_current_id = entry.id;
        if (!g_current->init || g_current->init() != 0) return entry.id;
        VLOG_ERROR(0, "Failed to initalize vendor [%s]", wanted.c_str());
        return -1;
    }

    VLOG_ERROR(0, "Specified vendor implementation '%s' not found", wanted.c_str());
    return -1;
}

VendorDescriptor* vendor_current() { return g_current; }

const VendorTraits& vendor_traits() {
    static constexpr VendorTraits kDefaults{};
    return g_current ? kVendorRegistry[g_current_id].traits : kDefaults;
}

namespace {

int dispatch(const std::string& record, const std::string& code) {
    for (const VendorCommand& cmd : g_current->commands) {
        if (cmd.code != code) continue;
        if (!cmd.handler) {
            VLOG_DEBUG(4, 0, "vendor_handle_data: null function defined for %s messages",
                       code.c_str());
            return 1;
        }
        VLOG_DEBUG(4, 0, "vendor_handle_data: found appropriate vendor function");
        return cmd.handler(record);
    }
    VLOG_INFO("Unhandled message type '%s'", code.c_str());
    return 0;
}

}  // namespace

void vendor_replay_held() {
    if (!g_current || !g_current->parse_cmd) return;
    held_records_replay(db_available, [](const std::string& record) {
        if (const std::optional<std::string> code = g_current->parse_cmd(record)) dispatch(record, *code);
    });
}

int vendor_handle_data(const std::string& record) {
    VLOG_DEBUG(4, 0, "Entering vendor_handle_data; data = '%s'", record.c_str());

    if (record.empty() || !g_current || g_current->commands.empty() || !g_current->parse_cmd) {
        VLOG_ERROR(0,
                   "Unable to handle data because it is null or no appropriate command handlers "
                   "have been defined.");
        return 0;
    }

    const std::optional<std::string> code = g_current->parse_cmd(record);
    if (!code) {
        VLOG_ERROR(0, "Unhandled message format [%s]", record.c_str());
        return 0;
    }
    VLOG_DEBUG(4, 0, "Searching for command handler for %s", code->c_str());
    // A guest record must not be lost to a database outage, nor overtake
    // the ones held during it.
    if (held_record_code(*code)) {
        if (db_lost()) return held_records_push(*code, record) ? 1 : 0;
        vendor_replay_held();
        if (held_records_count() > 0) return held_records_push(*code, record) ? 1 : 0;
    }
    return dispatch(record, *code);
}

void vendor_stop() {
    VLOG_DEBUG(1, 0, "Entering vendor_stop.. shutting down vendor layer");
    if (!g_current) return;
    if (g_current->close) g_current->close();
    g_current = nullptr;
}

int vendor_calc_lrc(std::string_view text) {
    if (text.empty()) {
        VLOG_DEBUG(4, 0, "vendor_calc_lrc: message null");
        return 0;
    }
    const std::string shown(text);
    VLOG_DEBUG(4, 0, "vendor_calc_lrc: message [%s], length [%d]", shown.c_str(),
               static_cast<int>(text.size()));
    unsigned char lrc = 0;
    for (char c : text) lrc ^= static_cast<unsigned char>(c);
    VLOG_DEBUG(4, 0, "vendor_calc_lrc: msg [%s], int(lrc) = [%d]", shown.c_str(),
               static_cast<int>(lrc));
    return lrc;
}

#include "vendor.h"

#include "platform/log.h"

static constexpr char kLogSrc[] = "vendor";

const std::array<const char*, VENDOR_COUNT> kVendorNames = {
    "Micros-Fidelio 2-way",
    "Marriott 2-way",
    "Hilton OnQ 2-way",
    "Agilysys 2-way",
    "JDS 2-way",
    "MarriottFOSSE 2-way",
    "GalaVu 2-way",
    "Galaxy 2-way",
    "Regal 2-way",
    "HN MUX 2-way",
    "Micros4700 1.5-way",
    "Optima 2-way",
    "Protel 2-way",
    "NiteVisionSFTP 1-way",
    "HTNG 2-way",
};

namespace {

// Factories by id. A vendor that is built replaces its own nullptr by its
// factory; every entry sits on its own line so that vendors added on separate
// branches merge without touching each other's lines.
const std::array<VendorFactory, VENDOR_COUNT> kBuiltinVendors = {
    // 0 Micros-Fidelio
    micfid_vendor_descriptor,
    // 1 Marriott
    nullptr,
    // 2 Hilton OnQ
    nullptr,
    // 3 Agilysys
    agilysys_vendor_descriptor,
    // 4 JDS
    nullptr,
    // 5 Marriott FOSSE
    nullptr,
    // 6 GalaVu
    nullptr,
    // 7 Galaxy
    nullptr,
    // 8 Regal
    nullptr,
    // 9 HN MUX
    nullptr,
    // 10 Micros 4700
    nullptr,
    // 11 Optima
    nullptr,
    // 12 Protel
    nullptr,
    // 13 NiteVision SFTP
    nv_vendor_descriptor,
    // 14 HTNG
    nullptr,
};

std::array<VendorFactory, VENDOR_COUNT> g_overrides{};
std::array<std::optional<VendorDescriptor>, VENDOR_COUNT> g_registry;
VendorDescriptor* g_current = nullptr;

VendorFactory factory_for(int id) {
    return g_overrides[id] ? g_overrides[id] : kBuiltinVendors[id];
}

}  // namespace

bool vendor_is_built(int id) { return id >= 0 && id < VENDOR_COUNT && factory_for(id) != nullptr; }

void vendor_set_factory(int id, VendorFactory factory) {
    if (id >= 0 && id < VENDOR_COUNT) g_overrides[id] = factory;
}

int vendor_init(std::string_view name) {
    VLOG_DEBUG(1, 0, "Entering vendor_init.. initializing vendor layer");

    g_current = nullptr;
    for (int id = 0; id < VENDOR_COUNT; ++id) {
        g_registry[id].reset();
        if (VendorFactory f = factory_for(id)) {
            g_registry[id] = f();
            // The registry name is authoritative: VENDOR is matched against it.
            g_registry[id]->name = kVendorNames[id];
        }
    }

    const std::string wanted(name);
    for (int id = 0; id < VENDOR_COUNT; ++id) {
        if (wanted != kVendorNames[id]) continue;
        if (!g_registry[id]) {
            // Named, but this build carries no implementation for it.
            VLOG_ERROR(0, "Failed to initalize vendor [%s]", wanted.c_str());
            return -1;
        }
        g_current = &*g_registry[id];
        if (!g_current->init) return id;
        // Called through a copy: an operation must outlive anything it does to the registry.
        std::function<int()> init = g_current->init;
        if (init() != 0) return id;
        VLOG_ERROR(0, "Failed to initalize vendor [%s]", wanted.c_str());
        return -1;
    }

    VLOG_ERROR(0, "Specified vendor implementation '%s' not found", wanted.c_str());
    return -1;
}

VendorDescriptor* vendor_current() { return g_current; }

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

    for (const VendorCommand& cmd : g_current->commands) {
        if (cmd.code != *code) continue;
        if (!cmd.handler) {
            VLOG_DEBUG(4, 0, "vendor_handle_data: null function defined for %s messages",
                       code->c_str());
            return 1;
        }
        VLOG_DEBUG(4, 0, "vendor_handle_data: found appropriate vendor function");
        VendorCmdHandler handler = cmd.handler;
        return handler(record);
    }

    VLOG_INFO("Unhandled message type '%s'", code->c_str());
    return 0;
}

void vendor_stop() {
    VLOG_DEBUG(1, 0, "Entering vendor_stop.. shutting down vendor layer");
    if (!g_current) return;
    if (g_current->close) {
        std::function<int()> close = g_current->close;
        close();
    }
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

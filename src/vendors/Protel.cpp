#include "vendors/Protel.h"

#include "vendor.h"
#include "vendors/fias/fias_link_records.h"
#include "vendors/fias/fias_vendor.h"

namespace {

const FiasProfile kProtelProfile = {
    .name = "Protel 2-way",
    .prefix = "protel",
    .proto_name = "MicrosFidelio",
    .vip_open_error = "Unable to open VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR"}, {"DS"}, {"DE"}, {"NS"}, {"NE"}, {"GI"}, {"GO"}, {"GC"}, {"RE"},
                {"XL"}},
    .reads = kFiasReadsPsPost | kFiasReadsMsgRetries,
    // Micros-Fidelio's, without the online message and folio records.
    .link_records = fias_base_link_records(),
    .bad_lrc_text = "bad checksum %c for %s",
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "P#", "GN", "WS", "PTC"},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT", "P#"},
    .announces_messages = false,
    .announces_folio = false,
    .room_move_text = "Protel: sending room move [%s,%s: %s ->  %s] mcast",
    .auth_test_line = false,
    .folio_out_of_order = "Recieved record out of order from PMS during folio transfer - %s",
};

}  // namespace

FiasVendor& protel_vendor() {
    static FiasVendor vendor{kProtelProfile, {}};
    return vendor;
}

VendorDescriptor protel_vendor_descriptor() { return fias_descriptor(protel_vendor()); }

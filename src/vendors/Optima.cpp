#include "vendors/Optima.h"

#include "db.h"
#include "vendor.h"
#include "vendors/fias/fias_link_records.h"
#include "vendors/fias/fias_vendor.h"

namespace {

const FiasProfile kOptimaProfile = {
    .name = "Optima 2-way",
    .prefix = "optima",
    .proto_name = "Optima",
    .vip_open_error = "Unable to open Optima VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR"}, {"DS"}, {"DE"}, {"NS"}, {"NE"}, {"GI"}, {"GO"}, {"GC"}, {"RE"},
                {"XL"}},
    .reads = kFiasReadsPsPost | kFiasReadsMsgRetries,
    .start = FiasStart::DrainFirst,
    .keepalive_type = "LA",
    .keepalive_on_serial = true,
    .link_records = fias_base_link_records(),
    .keepalive_log_type = "LS",
    .bad_lrc_text = "bad checksum %c for %s",
    .inquiry = {"PR", "DA", "PI", "TI", "P#", "SO123", "WS456", "IDELI"},
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "P#", "GN", "PTC"},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT", "P#"},
    .announces_messages = false,
    .announces_folio = false,
    .room_move_text = "Optima: sending room move [%s,%s: %s ->  %s] mcast",
    .set_class_of_service = db_pms_guests_set_class_of_service_stale_first,
    .authorize_names_only = true,
    .folio_out_of_order = "Recieved record out of order from PMS during folio transfer - %s",
};

}  // namespace

FiasVendor& optima_vendor() {
    static FiasVendor vendor{kOptimaProfile, {}};
    return vendor;
}

VendorDescriptor optima_vendor_descriptor() { return fias_descriptor(optima_vendor()); }

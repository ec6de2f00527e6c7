#include "vendors/Protel.h"

#include "vendor.h"
#include "vendors/fias/fias_link_records.h"
#include "vendors/fias/fias_vendor.h"

namespace {

const FiasProfile kProtelProfile = {
    .name = "Protel 2-way",
    .prefix = "protel",
    .proto_name = "MicrosFidelio",
    .pms_name = "Micros",
    .vip_open_error = "Unable to open VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR"}, {"DS"}, {"DE"}, {"NS"}, {"NE"}, {"GI"}, {"GO"}, {"GC"}, {"RE"},
                {"XL"}},
    .served = kAllReqSlots & ~req_slot(ReqSlot::CheckInRoom),
    .reads = kFiasReadsPsPost | kFiasReadsMsgRetries,
    .framing = {.lrc = true, .lrc_covers_etx = true, .cr_lf_as_lrc = false, .etb_ends_frame = false,
                .serial_rules_everywhere = false},
    .default_retries = 3,
    .enquiry_counts_failures = true,
    .read_override = nullptr,
    .write_override = nullptr,
    .start = FiasStart::Fias,
    .keepalive_type = "LS",
    .keepalive_on_serial = false,
    .ld_bad_lrc_text = "back checksum %c for %s",
    // Micros-Fidelio's, without the online message and folio records.
    .link_records = fias_base_link_records(),
    .inquiry_rule = FiasInquiryRule::Always,
    .bad_lrc_text = "bad checksum %c for %s",
    .inquiry = {"PR", "DA", "PI", "TI", "P#", "SO123", "WS", "IDELI"},
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "P#", "GN", "WS", "PTC"},
    .post_ps_digits = {"PS", "DA", "DD", "DU", "PTC", "RN", "PC2", "TA", "TI", "P#"},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT", "P#"},
    .ur_zero_charge_ok = true,
    .refusals = {},
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

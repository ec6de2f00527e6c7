#include "vendors/MicrosFidelio.h"

#include "vendor.h"
#include "vendors/fias/fias_link_records.h"
#include "vendors/fias/fias_vendor.h"

namespace {

const FiasProfile kMicfidProfile = {
    .name = "Micros-Fidelio 2-way",
    .prefix = "micfid",
    .proto_name = "MicrosFidelio",
    .pms_name = "Micros",
    .vip_open_error = "Unable to open Micros-Fidelio VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR"}, {"DS"}, {"DE"}, {"NS"},
                {"NE"}, {"GI"}, {"GO"}, {"GC"}, {"RE"}, {"XL"}, {"XO"}},
    .served = kAllReqSlots & ~req_slot(ReqSlot::CheckInRoom),
    .reads = kFiasReadsPsPost | kFiasReadsMsgRetries | kFiasReadsOnlineRequests,
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
    .link_records = fias_base_link_records_and({
        {"LR|RIXL|FLG#MIMTRNDATI|", kFiasOnlineMessages},
        {"LR|RIXO|FLBABDBIDCG#RNDAF#FDTI|", kFiasOnlineFolio},
    }),
    .inquiry_rule = FiasInquiryRule::Always,
    .bad_lrc_text = "bad checksum %c for %s, modify",
    .inquiry = {"PR", "DA", "PI", "TI", "P#", "SO123", "WS", "IDELI"},
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "P#", "GN", "WS", "PTC"},
    .post_ps_digits = {"PS", "DA", "DD", "DU", "PTC", "RN", "PC2", "TA", "TI", "P#"},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT", "P#"},
    .ur_zero_charge_ok = true,
    .refusals = {},
    .announces_messages = true,
    .announces_folio = true,
    .room_move_text = "micfid_vendor_cmd_guest_data_change: sending room move [%s,%s: %s ->  %s] mcast",
};

}  // namespace

FiasVendor& micfid_vendor() {
    static FiasVendor vendor{kMicfidProfile, {}};
    return vendor;
}

VendorDescriptor micfid_vendor_descriptor() {
    return fias_descriptor(micfid_vendor());
}

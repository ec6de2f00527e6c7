#include "vendors/Regal.h"

#include "platform/log.h"
#include "vendor.h"
#include "vendors/fias/fias_vendor.h"
#include "vendors/regal/regal_wire.h"

static constexpr char kLogSrc[] = "vendors/Regal";

namespace {

// A Regal PMS's DR needs no answer.
int regal_cmd_db_resync(FiasVendor&, const std::string&) {
    VLOG_DEBUG(3, 0, "entering regal_vendor_cmd_db_resync, we got a DR");
    return 1;
}

const FiasProfile kRegalProfile = {
    .name = "Regal 2-way",
    .prefix = "regal",
    .proto_name = "Regal",
    .vip_open_error = "Unable to open Regal VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR", regal_cmd_db_resync}, {"DS"}, {"DE"}, {"NS"}, {"NE"}, {"GI"},
                {"GO"}, {"GC"}},
    .served = req_slot(ReqSlot::CheckRoomStatus) | req_slot(ReqSlot::PostCharge) | req_slot(ReqSlot::Authorize) |
              req_slot(ReqSlot::DbSwap),
    .reads = kFiasReadsMsgRetries,
    .framing = {.lrc = false, .lrc_covers_etx = true, .cr_lf_as_lrc = false, .etb_ends_frame = false,
                .serial_rules_everywhere = false},
    .enquiry_counts_failures = false,
    .read_override = regal_read_msg,
    .write_override = regal_write_frame,
    .start = FiasStart::LsOneAnswer,
    .keepalive_type = "LA",
    .keepalive_on_serial = true,
    .link_records = {},
    .describes_link = false,
    .keepalive_timeout_limit = 500,
    .inquiry_rule = FiasInquiryRule::Never,
    .post_pr = {},
    .post_ps_digits = {},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT", "P#"},
    .refusals = {{"ER", 3}, {"NF", 4}, {"IT", 5}},
    .post_ps_always = true,
    .post_seq_is_row = true,
    .night_audit_holds_posting = true,
    .vip_by_room_guest = true,
    .announces_messages = false,
    .announces_folio = false,
    .room_move_text = "Regal: sending room move [%s,%s: %s ->  %s] mcast",
};

}  // namespace

FiasVendor& regal_vendor() {
    static FiasVendor vendor{kRegalProfile, {}};
    return vendor;
}

VendorDescriptor regal_vendor_descriptor() { return fias_descriptor(regal_vendor()); }

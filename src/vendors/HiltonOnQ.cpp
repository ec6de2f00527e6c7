#include "vendors/HiltonOnQ.h"

#include "platform/log.h"
#include "vendor.h"
#include "vendors/fias/fias_vendor.h"

static constexpr char kLogSrc[] = "vendors/HiltonOnQ";

namespace {

// The inquiry asks the PMS for a guest the charge and the occupancy table
// could not name; posting to no guest and the PS records have no guest to
// ask for, so either one with the inquiry is a contradiction.
bool honq_settings(FiasVendor& v) {
    const FiasState& s = v.s;
    VLOG_DEBUG(3, 0, "honq_vendor_init with ps = '%d' and null = '%d' and pi = '%d'", s.use_ps_post, s.post_null_guest,
               s.post_inquiry);
    if (s.post_inquiry && (s.use_ps_post || s.post_null_guest)) {
        VLOG_ERROR(0, "You cannot use SEND_POST_INQUIRY with USE_PS_POST or POSTNULLGUEST");
        return false;
    }
    return true;
}

constexpr const char* kOutOfPlace = "Out-of-place message found.. trying to handle '%s'";

const FiasProfile kHonqProfile = {
    .name = "Hilton OnQ 2-way",
    .prefix = "honq",
    .proto_name = "HiltonOnQ",
    .vip_open_error = "Unable to open Hilton-OnQ VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR"}, {"DS"}, {"DE"}, {"NS"}, {"NE"}, {"GI"}, {"GO"}, {"GC"}, {"RE"}},
    .served = kAllReqSlots & ~(req_slot(ReqSlot::CheckInRoom) | req_slot(ReqSlot::CheckOutRoom) |
                               req_slot(ReqSlot::RetrieveGuestMessage) | req_slot(ReqSlot::DeleteGuestMessage)),
    .unserved_entry = "entering %s_handle_%s()",
    .reads = kFiasReadsPsPost | kFiasReadsSendPostInquiry | kFiasReadsPostNullGuest,
    // Three sends in all; MSG_RETRIES is not read.
    .default_retries = 2,
    .enquiry_counts_failures = false,
    .keepalive_type = "LA",
    .keepalive_on_serial = true,
    .link_records =
        {
            {"LR|RINS|FLDATI|", kFiasAlways},
            {"LR|RINE|FLDATI|", kFiasAlways},
            {"LR|RIGI|FLG#RNGSDAGAGDGFGGGLGNGTGVSFTINP|", kFiasUserStringsOff},
            {"LR|RIGI|FLG#RNGSDAGAGDGFGGGLGNGTGVSFTINPA0A1A2A3A4A5A6A7A8A9|", kFiasUserStringsOn},
            {"LR|RIGO|FLG#RNGSSFDATI|", kFiasAlways},
            {"LR|RIGC|FLG#GSRNRODATIGAGDGFGGGLGNGTGVNP|", kFiasUserStringsOff},
            {"LR|RIGC|FLG#GSRNRODATIGAGDGFGGGLGNGTGVNPA0A1A2A3A4A5A6A7A8A9|", kFiasUserStringsOn},
            {"LR|RIDR|FLDATI|", kFiasAlways},
            {"LR|RIDS|FLDATI|", kFiasAlways},
            {"LR|RIDE|FLDATI|", kFiasAlways},
            {"LR|RIXR|FLG#RNDATI|", kFiasAlways},
            {"LR|RIXI|FLBDBIDCG#RNDAF#FDTI|", kFiasAlways},
            {"LR|RIXB|FLBAG#RNDATI|", kFiasAlways},
            {"LR|RIPS|FLDADDDUPTRNPCTATICT|", kFiasPsPostOn},
            {"LR|RIPR|FLPIDAG#RNTATI|", kFiasPsPostOff | kFiasInquiryOff},
            {"LR|RIPR|FLPIDAG#RNTATIPT|", kFiasPsPostOff | kFiasInquiryOn},
            {"LR|RIPA|FLASDARNTI|", kFiasInquiryOff},
            {"LR|RIPA|FLASDARNTICT|", kFiasInquiryOn},
            {"LR|RIRE|FLRNCSRS|", kFiasAlways},
            {"LR|RIPL|FLDATIRNG#GNGFGVGAGDGGGLNP|", kFiasInquiryOn | kFiasUserStringsOff},
            {"LR|RIPL|FLDATIRNG#GNGFGVGAGDGGGLNPA0A1A2A3A4A5A6A7A8A9|", kFiasInquiryOn | kFiasUserStringsOn},
        },
    .inquiry_rule = FiasInquiryRule::SettingAndNoGuest,
    .bad_lrc_text = "bad checksum %c for %s",
    .inquiry = {"PR", "DA", "PI", "TI", "SO123", "WS456", "IDELI"},
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "PTC"},
    .post_ps_digits = {"PS", "DA", "DD", "DU", "PTC", "RN", "PC2", "TA", "TI"},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT"},
    .announces_messages = false,
    .announces_folio = false,
    .room_move_text = "HILTONOnQ: sending room move [%s,%s: %s ->  %s] mcast",
    .settings_hook = honq_settings,
    .out_of_place_a = kOutOfPlace,
    .out_of_place_b = kOutOfPlace,
    .guest_from_charge_or_occupant = true,
    .no_answer_text = "Did not receive response from PMS",
    .bad_answer_text = "Did not receive valid response from PMS",
    .folio_out_of_order = "Recieved record out of order from PMS during folio transfer - %s",
};

}  // namespace

FiasVendor& honq_vendor() {
    static FiasVendor vendor{kHonqProfile, {}};
    return vendor;
}

VendorDescriptor honq_vendor_descriptor() { return fias_descriptor(honq_vendor()); }

#include "vendors/HNMUX.h"

#include "platform/log.h"
#include "vendor.h"
#include "vendors/fias/fias_vendor.h"

static constexpr char kLogSrc[] = "vendors/HNMUX";

namespace {

bool hnmux_settings(FiasVendor& v) {
    VLOG_DEBUG(3, 0, "hnmux_vendor_init with and mr = '%d', psi = '%d'", v.s.retries, v.s.psi_no);
    return true;
}

const FiasProfile kHnmuxProfile = {
    .name = "HN MUX 2-way",
    .prefix = "hnmux",
    .proto_name = "HNMUX",
    .vip_open_error = "Unable to HN MUX VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR"}, {"DS"}, {"DE"}, {"NS"}, {"NE"}, {"GI"}, {"GO"}, {"GC"}, {"RE"},
                {"XL"}},
    .reads = kFiasReadsMsgRetries,
    // The multiplexer frames and acknowledges the serial way on TCP too.
    .framing = {.lrc = true, .lrc_covers_etx = true, .cr_lf_as_lrc = false, .etb_ends_frame = false,
                .serial_rules_everywhere = true},
    .enquiry_counts_failures = false,
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
            {"LR|RIXC|FLASBAG#RNCTDATI|", kFiasAlways},
            {"LR|RIPR|FLPIDAG#GNRNTATI|", kFiasAlways},
            {"LR|RIPA|FLASDARNTI|", kFiasAlways},
            {"LR|RIRE|FLRNCSRS|", kFiasAlways},
            {"LR|RIPL|FLDATIRNG#GNGFGVGAGDGGGLNP|", kFiasUserStringsOff},
            {"LR|RIPL|FLDATIRNG#GNGFGVGAGDGGGLNPA0A1A2A3A4A5A6A7A8A9|", kFiasUserStringsOn},
        },
    .bad_lrc_text = "bad checksum %c for %s",
    .inquiry = {"PR", "DA", "PI", "TI", "SO123", "WS456", "IDELI"},
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "GN", "PTC"},
    // USE_PS_POST is not read: the PS layouts are never used.
    .post_ps_digits = {},
    .post_ps_text = {},
    .announces_messages = false,
    .announces_folio = false,
    .room_move_text = "HNMUX: sending room move [%s,%s: %s ->  %s] mcast",
    .settings_hook = hnmux_settings,
    .out_of_place_a = "Out-of-place message found.. trying to handle '%s'",
    .out_of_place_b = "Out-of-place message found.. trying to handle '%s'",
    .lenient_frame_wait = true,
    .reads_resort_fee = true,
    .checkin_marks_guest_stale = true,
    .folio_out_of_order = "Recieved record out of order from PMS during folio transfer - %s",
    .messages_not_xt = "%s_get_guest_messages: none XT, handling [%s]",
};

}  // namespace

FiasVendor& hnmux_vendor() {
    static FiasVendor vendor{kHnmuxProfile, {}};
    return vendor;
}

VendorDescriptor hnmux_vendor_descriptor() { return fias_descriptor(hnmux_vendor()); }

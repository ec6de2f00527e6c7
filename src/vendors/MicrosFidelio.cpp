#include "vendors/MicrosFidelio.h"

#include "vendor.h"
#include "vendors/fias/fias_vendor.h"

namespace {

const FiasProfile kMicfidProfile = {
    .name = "Micros-Fidelio 2-way",
    .prefix = "micfid",
    .proto_name = "MicrosFidelio",
    .pms_name = "Micros",
    .vip_open_error = "Unable to open Micros-Fidelio VIP code file '%s'",
    .default_retries = 3,
    .reads_msg_retries = true,
    .serial_rules_everywhere = false,
    .enquiry_counts_failures = true,
    .read_override = nullptr,
    .write_override = nullptr,
    .keepalive_type = "LS",
    .keepalive_on_serial = false,
    .ld_bad_lrc_text = "back checksum %c for %s",
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
            {"LR|RIPS|FLP#DADDDUPTRNPCTATICT|", kFiasPsPostOn},
            {"LR|RIPR|FLP#PIDAG#RNTATIPT|", kFiasPsPostOff},
            {"LR|RIPA|FLP#ASDARNTI|", kFiasPsPostOn},
            {"LR|RIPA|FLP#ASDARNTICT|", kFiasPsPostOff},
            {"LR|RIRE|FLRNCSRS|", kFiasAlways},
            {"LR|RIPL|FLP#DATIRNG#GNGFGVGAGDGGGLNP|", kFiasUserStringsOff},
            {"LR|RIPL|FLP#DATIRNG#GNGFGVGAGDGGGLNPA0A1A2A3A4A5A6A7A8A9|", kFiasUserStringsOn},
            {"LR|RIXM|FLG#RN|", kFiasAlways},
            {"LR|RIXT|FLG#MIMTRNDATI|", kFiasAlways},
            {"LR|RIXD|FLG#MIRN|", kFiasAlways},
            {"LR|RIXL|FLG#MIMTRNDATI|", kFiasOnlineMessages},
            {"LR|RIXO|FLBABDBIDCG#RNDAF#FDTI|", kFiasOnlineFolio},
        },
    .posting_inquiry = true,
    .bad_lrc_text = "bad checksum %c for %s, modify",
    .inquiry = {"PR", "DA", "PI", "TI", "P#", "SO123", "WS", "IDELI"},
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "P#", "GN", "WS", "PTC"},
    .post_ps_digits = {"PS", "DA", "DD", "DU", "PTC", "RN", "PC2", "TA", "TI", "P#"},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT", "P#"},
    .ur_zero_charge_ok = true,
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
    return fias_descriptor(micfid_vendor(),
                           {"LS", "LE", "LA", "DR", "DS", "DE", "NS", "NE", "GI", "GO", "GC", "RE", "XL", "XO"});
}

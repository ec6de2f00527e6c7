#include "vendors/MicrosFidelio.h"

#include "vendor.h"
#include "vendors/fias/fias_link_records.h"
#include "vendors/fias/fias_vendor.h"

namespace {

const FiasProfile kMicfidProfile = {
    .name = "Micros-Fidelio 2-way",
    .prefix = "micfid",
    .proto_name = "MicrosFidelio",
    .vip_open_error = "Unable to open Micros-Fidelio VIP code file '%s'",
    .records = {{"LS"}, {"LE"}, {"LA"}, {"DR"}, {"DS"}, {"DE"}, {"NS"},
                {"NE"}, {"GI"}, {"GO"}, {"GC"}, {"RE"}, {"XL"}, {"XO"}},
    .reads = kFiasReadsPsPost | kFiasReadsMsgRetries | kFiasReadsOnlineRequests,
    .link_records = fias_base_link_records_and({
        {"LR|RIXL|FLG#MIMTRNDATI|", kFiasOnlineMessages},
        {"LR|RIXO|FLBABDBIDCG#RNDAF#FDTI|", kFiasOnlineFolio},
    }),
    .post_pr = {"PR", "DA", "G#", "RN", "TA", "TI", "P#", "GN", "WS", "PTC"},
    .post_ps_text = {"PS", "DA", "PTC", "RN", "PC4", "TA", "TI", "CT", "P#"},
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

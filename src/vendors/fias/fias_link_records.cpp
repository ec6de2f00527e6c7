#include "vendors/fias/fias_link_records.h"

const std::vector<FiasLinkRecord>& fias_base_link_records() {
    static const std::vector<FiasLinkRecord> records = {
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
    };
    return records;
}

std::vector<FiasLinkRecord> fias_base_link_records_and(std::initializer_list<FiasLinkRecord> more) {
    std::vector<FiasLinkRecord> records = fias_base_link_records();
    records.insert(records.end(), more);
    return records;
}

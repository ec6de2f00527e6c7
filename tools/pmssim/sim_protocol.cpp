#include "sim_protocol.h"

const std::vector<SimProtocolEntry>& sim_protocols() {
    static const std::vector<SimProtocolEntry> table = {
        {"fias", "FIAS (Micros-Fidelio): LS/LA, postings, folios, messages, guest records", sim_make_fias},
        {"nitevision", "NiteVision guest file, written into the --files directory (served by SFTP)",
         sim_make_nitevision},
        {"galavu", "GalaVu: transaction ids, VER/ERR, LOOK from the hotel, DISP/MSGR answers", sim_make_galavu},
        {"galaxy", "Galaxy: as GalaVu, guests in CHKI/CHKM/CMOV records, INIT answered DBST", sim_make_galaxy},
        {"htng", "HTNG: guest records of 317+ characters, INIT answered DBST (TCP only)", sim_make_htng},
    };
    return table;
}

const SimProtocolEntry* sim_find_protocol(const std::string& name) {
    for (const auto& p : sim_protocols())
        if (name == p.name) return &p;
    return nullptr;
}

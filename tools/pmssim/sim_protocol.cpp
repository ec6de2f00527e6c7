#include "sim_protocol.h"

const std::vector<SimProtocolEntry>& sim_protocols() {
    static const std::vector<SimProtocolEntry> table = {
        {"fias", "FIAS (Micros-Fidelio, Hilton OnQ, Optima, Protel): LS/LA, postings, folios, messages, guest records",
         sim_make_fias},
        {"fias-hnmux", "FIAS of HN MUX: as fias, with LRCs and ACK/NAK on TCP too", sim_make_fias_hnmux},
        {"regal", "FIAS as Regal: frames without LRC, ACK/NAK on every link, no link description, PS postings",
         sim_make_regal},
        {"marriott", "Marriott line protocol (Marriott, Marriott FOSSE): CHKI/CHKO, LOOK/NAME, POST, CONF",
         sim_make_marriott},
        {"jds", "JDS: guest records (53), night audit, ACK/NAK with sequence numbers, answers to 11 and 12", sim_make_jds},
        {"micros4700", "Micros 4700: answers names requests (markers for vacant or cash-only rooms) and postings",
         sim_make_micros4700},
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

const char* sim_protocol_for_vendor(const std::string& vendor) {
    static const struct {
        const char* vendor;
        const char* protocol;
    } kVendors[] = {
        {"Micros-Fidelio 2-way", "fias"},
        {"Hilton OnQ 2-way", "fias"},
        {"HN MUX 2-way", "fias-hnmux"},
        {"Optima 2-way", "fias"},
        {"Protel 2-way", "fias"},
        {"Regal 2-way", "regal"},
        {"Marriott 2-way", "marriott"},
        {"MarriottFOSSE 2-way", "marriott"},
        {"JDS 2-way", "jds"},
        {"Micros4700 1.5-way", "micros4700"},
        {"GalaVu 2-way", "galavu"},
        {"Galaxy 2-way", "galaxy"},
        {"HTNG 2-way", "htng"},
        {"NiteVisionSFTP 1-way", "nitevision"},
    };
    for (const auto& v : kVendors)
        if (vendor == v.vendor) return v.protocol;
    return nullptr;
}

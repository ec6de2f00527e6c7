// Gateway event announcements by multicast: one UDP datagram of twelve
// '|'-separated values per event.
#pragma once

#include <ctime>
#include <string>

// Event codes.
enum : int {
    MCAST_CHECKIN = 1,
    MCAST_CHECKOUT = 2,
    MCAST_GUEST_CHANGE = 3,
    MCAST_KEEPALIVE = 4,
    MCAST_MESSAGE = 5,
    MCAST_FOLIO = 6,
};

// The eleven slots after the code. An absent text is an empty field on the wire.
struct McastEvent {
    int code = 0;
    std::string first;      // 2
    std::string last;       // 3
    std::string guest_no;   // 4
    std::string room;       // 5
    std::string group;      // 6
    std::string vip;        // 7
    std::string language;   // 8
    std::string prev_room;  // 9
    long arrival = 0;       // 10
    long departure = 0;     // 11
    long zero = 0;          // 12
};

inline constexpr const char* kMcastGroup = "226.56.56.56";

// Opens (or reopens) the client socket on interface `iface`; 0 on success.
// Announcements go to group:PMSMCAST_PORT (default 5657).
int vornpmsmcast_init_client(const char* group, const char* iface);
// Closes the client socket; later announcements are logged and not sent.
void vornpmsmcast_close_client();
// Sends one announcement (logged at debug 4 and dropped without a client).
int vornpmsmcast_make_and_send_msg(const McastEvent& event);
// "code|first|last|...|zero", with '\' and '|' inside texts escaped.
std::string vornpmsmcast_encode(const McastEvent& event);
// A UDP socket bound to group:port that has joined the group on interface
// `iface` (nullptr or "" lets the kernel choose); the descriptor, or -1 (logged).
int vornpmsmcast_open_listener(const char* group, const char* iface, int port);
// Parses a datagram back into an event; false when it is not twelve fields.
bool vornpmsmcast_decode(const std::string& datagram, McastEvent& event);
// "YYYY-MM-DD HH:MM:SS" (or without seconds, or a date alone) as local time; 0 otherwise.
long vornpmsmcast_convert_timestamp_to_int(const char* text);

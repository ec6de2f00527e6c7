// What the operator asks the PMS to tell the interface, independent of any
// protocol. The hotel model has already been changed when a protocol module
// receives one; the module turns it into its own records.
#pragma once

#include <string>

#include "sim_hotel.h"

enum class SimEventKind {
    CheckIn,          // guest
    CheckOut,         // guest (room, number); only_guest: others stay in the room
    GuestChange,      // guest with its new data
    RoomMove,         // guest (in its new room), old_room
    Message,          // guest, message
    FolioUpdate,      // guest, item (balance from guest)
    NightAuditStart,
    NightAuditEnd,
    Resync,           // send the whole in-house list
    Drop,             // break the connection
    LinkStart,
    LinkEnd,
    Raw,              // raw: a record body as typed
};

struct SimEvent {
    SimEventKind kind = SimEventKind::Raw;
    SimGuest guest;
    std::string old_room;
    bool only_guest = false;
    SimMessage message;
    SimFolioItem item;
    std::string raw;
};

// The simulator's small hotel: rooms, the guests in house, their folios and
// waiting messages, and the rooms whose postings are refused. It knows no
// protocol; the protocol modules read and change it.
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct SimFolioItem {
    std::string description;
    long amount = 0;  // hundredths
    time_t when = 0;
};

struct SimMessage {
    std::string id;
    std::string text;
    time_t when = 0;
};

struct SimGuest {
    std::string room;
    std::string number;  // guest (reservation) number
    std::string last;
    std::string first;
    std::string title;
    std::string vip;
    std::string language;
    std::string group;
    std::string arrival;    // YYMMDD
    std::string departure;  // YYMMDD
    bool no_post = false;
    std::vector<SimFolioItem> folio;
    std::vector<SimMessage> messages;

    long balance() const;
};

// A room whose postings the PMS refuses, with the answer status and text.
struct SimRefusal {
    std::string status = "NP";
    std::string text = "Posting refused";
};

class SimHotel {
public:
    void addRoom(const std::string& room);
    bool hasRoom(const std::string& room) const;
    const std::vector<std::string>& rooms() const { return rooms_; }

    // The guest, or the room's first guest when `number` is empty.
    SimGuest* find(const std::string& room, const std::string& number);
    SimGuest* findNumber(const std::string& number);
    std::vector<SimGuest*> inRoom(const std::string& room);
    std::vector<SimGuest>& guests() { return guests_; }

    // Adds the guest (the room too); an existing guest with that number is
    // replaced. Returns the stored guest.
    SimGuest& checkIn(SimGuest guest);
    // Removes one guest (number given) or every guest of the room; returns
    // the guests removed.
    std::vector<SimGuest> checkOut(const std::string& room, const std::string& number);

    void refuse(const std::string& room, SimRefusal refusal) { refusals_[room] = std::move(refusal); }
    void accept(const std::string& room) { refusals_.erase(room); }
    std::optional<SimRefusal> refusal(const std::string& room) const;

    std::string nextMessageId() { return std::to_string(++last_message_id_); }

    // A summary, one line per room and guest.
    std::vector<std::string> describe() const;

private:
    std::vector<std::string> rooms_;
    std::vector<SimGuest> guests_;
    std::map<std::string, SimRefusal> refusals_;
    long last_message_id_ = 0;
};

// YYMMDD of today plus `days`, local time.
std::string sim_date(int days);

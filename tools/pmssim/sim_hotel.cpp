#include "sim_hotel.h"

#include <algorithm>

#include "sim_words.h"

long SimGuest::balance() const {
    long sum = 0;
    for (const auto& item : folio) sum += item.amount;
    return sum;
}

void SimHotel::addRoom(const std::string& room) {
    if (!hasRoom(room)) rooms_.push_back(room);
}

bool SimHotel::hasRoom(const std::string& room) const {
    return std::find(rooms_.begin(), rooms_.end(), room) != rooms_.end();
}

SimGuest* SimHotel::find(const std::string& room, const std::string& number) {
    for (auto& g : guests_)
        if (g.room == room && (number.empty() || g.number == number)) return &g;
    return nullptr;
}

SimGuest* SimHotel::findNumber(const std::string& number) {
    for (auto& g : guests_)
        if (g.number == number) return &g;
    return nullptr;
}

std::vector<SimGuest*> SimHotel::inRoom(const std::string& room) {
    std::vector<SimGuest*> out;
    for (auto& g : guests_)
        if (g.room == room) out.push_back(&g);
    return out;
}

SimGuest& SimHotel::checkIn(SimGuest guest) {
    addRoom(guest.room);
    for (auto& g : guests_) {
        if (g.number == guest.number) {
            g = std::move(guest);
            return g;
        }
    }
    guests_.push_back(std::move(guest));
    return guests_.back();
}

std::vector<SimGuest> SimHotel::checkOut(const std::string& room, const std::string& number) {
    std::vector<SimGuest> gone;
    auto it = guests_.begin();
    while (it != guests_.end()) {
        if (it->room == room && (number.empty() || it->number == number)) {
            gone.push_back(std::move(*it));
            it = guests_.erase(it);
        } else {
            ++it;
        }
    }
    return gone;
}

std::optional<SimRefusal> SimHotel::refusal(const std::string& room) const {
    auto it = refusals_.find(room);
    if (it == refusals_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> SimHotel::describe() const {
    std::vector<std::string> lines;
    for (const auto& room : rooms_) {
        std::string line = "room " + room;
        auto r = refusals_.find(room);
        if (r != refusals_.end()) line += " (postings refused: " + r->second.status + ")";
        bool occupied = false;
        for (const auto& g : guests_) {
            if (g.room != room) continue;
            occupied = true;
            lines.push_back(line + ": guest " + g.number + " " + g.first + " " + g.last + ", balance " +
                            sim_format_amount(g.balance()) + ", " + std::to_string(g.messages.size()) +
                            " message(s)");
        }
        if (!occupied) lines.push_back(line + ": vacant");
    }
    return lines;
}

std::string sim_date(int days) {
    time_t t = time(nullptr) + static_cast<time_t>(days) * 86400;
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    snprintf(buf, sizeof buf, "%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

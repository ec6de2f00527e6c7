#include "sim_command.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

#include "sim_words.h"

namespace {

SimCmd fail(const std::string& why) {
    SimCmd c;
    c.kind = SimCmdKind::Error;
    c.error = why;
    return c;
}

SimCmd event(SimEvent ev) {
    SimCmd c;
    c.kind = SimCmdKind::Event;
    c.event = std::move(ev);
    return c;
}

SimCmd only(SimCmdKind kind) {
    SimCmd c;
    c.kind = kind;
    return c;
}

SimCmd simple(SimEventKind kind) {
    SimEvent ev;
    ev.kind = kind;
    return event(std::move(ev));
}

bool isDate(const std::string& s) {
    if (s.size() != 6) return false;
    for (char c : s)
        if (!isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// Applies name=value guest options; false with `why` for an unknown name or bad value.
bool applyGuestOptions(SimGuest& g, const std::map<std::string, std::string>& opts, std::string& why) {
    for (const auto& [name, value] : opts) {
        std::string v = sim_field_text(value);
        if (name == "last") g.last = v;
        else if (name == "first") g.first = v;
        else if (name == "title") g.title = v;
        else if (name == "vip") g.vip = v;
        else if (name == "lang") g.language = v;
        else if (name == "group") g.group = v;
        else if (name == "nopost") g.no_post = v == "1" || v == "yes" || v == "y";
        else if (name == "arrive" || name == "depart") {
            if (!isDate(v)) {
                why = name + " wants a date YYMMDD";
                return false;
            }
            (name == "arrive" ? g.arrival : g.departure) = v;
        } else if (name == "nights") {
            char* end = nullptr;
            long n = strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 0 || n > 365) {
                why = "nights wants a number 0-365";
                return false;
            }
            g.departure = sim_date(static_cast<int>(n));
        } else {
            why = "unknown option " + name;
            return false;
        }
    }
    return true;
}

std::string restOfLine(const std::string& line, size_t skip_words) {
    size_t i = 0;
    for (size_t w = 0; w < skip_words; ++w) {
        while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
        while (i < line.size() && !isspace(static_cast<unsigned char>(line[i]))) ++i;
    }
    while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
    size_t end = line.size();
    while (end > i && isspace(static_cast<unsigned char>(line[end - 1]))) --end;
    return line.substr(i, end - i);
}

std::string joined(const std::vector<std::string>& words, size_t from) {
    std::string out;
    for (size_t i = from; i < words.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += words[i];
    }
    return out;
}

SimCmd checkIn(const std::vector<std::string>& w, SimHotel& hotel) {
    std::vector<std::string> plain;
    auto opts = sim_options(w, 1, plain);
    if (plain.size() < 3 || plain.size() > 4) return fail("usage: checkin ROOM GUESTNO LAST [FIRST] [name=value ...]");
    SimGuest g;
    g.room = sim_field_text(plain[0]);
    g.number = sim_field_text(plain[1]);
    g.last = sim_field_text(plain[2]);
    if (plain.size() == 4) g.first = sim_field_text(plain[3]);
    g.arrival = sim_date(0);
    g.departure = sim_date(1);
    g.language = "EA";
    std::string why;
    if (!applyGuestOptions(g, opts, why)) return fail(why);
    if (g.room.empty() || g.number.empty()) return fail("room and guest number must not be empty");
    SimEvent ev;
    ev.kind = SimEventKind::CheckIn;
    ev.guest = hotel.checkIn(std::move(g));
    return event(std::move(ev));
}

SimCmd checkOut(const std::vector<std::string>& w, SimHotel& hotel) {
    if (w.size() < 2 || w.size() > 3) return fail("usage: checkout ROOM [GUESTNO]");
    std::string number = w.size() == 3 ? w[2] : "";
    auto gone = hotel.checkOut(w[1], number);
    if (gone.empty()) return fail("no guest " + (number.empty() ? "" : number + " ") + "in room " + w[1]);
    SimEvent ev;
    ev.kind = SimEventKind::CheckOut;
    ev.guest = number.empty() ? SimGuest{} : gone.front();
    ev.guest.room = w[1];
    ev.only_guest = !number.empty();
    return event(std::move(ev));
}

SimCmd change(const std::vector<std::string>& w, SimHotel& hotel) {
    std::vector<std::string> plain;
    auto opts = sim_options(w, 1, plain);
    if (plain.size() != 2 || opts.empty()) return fail("usage: change ROOM GUESTNO name=value ...");
    SimGuest* g = hotel.find(plain[0], plain[1]);
    if (!g) return fail("no guest " + plain[1] + " in room " + plain[0]);
    SimGuest changed = *g;
    std::string why;
    if (!applyGuestOptions(changed, opts, why)) return fail(why);
    *g = changed;
    SimEvent ev;
    ev.kind = SimEventKind::GuestChange;
    ev.guest = changed;
    return event(std::move(ev));
}

SimCmd move(const std::vector<std::string>& w, SimHotel& hotel) {
    if (w.size() < 3 || w.size() > 4) return fail("usage: move OLDROOM NEWROOM [GUESTNO]");
    const std::string& from = w[1];
    std::string to = sim_field_text(w[2]);
    std::vector<SimGuest*> moving;
    if (w.size() == 4) {
        if (SimGuest* g = hotel.find(from, w[3])) moving.push_back(g);
    } else {
        moving = hotel.inRoom(from);
    }
    if (moving.empty()) return fail("nobody to move from room " + from);
    if (from == to) return fail("old and new room are the same");
    hotel.addRoom(to);
    SimCmd c;
    c.kind = SimCmdKind::Event;
    // More than one guest: one record each, the first carried in `event`, the rest queued.
    std::vector<SimEvent> events;
    for (SimGuest* g : moving) {
        g->room = to;
        SimEvent ev;
        ev.kind = SimEventKind::RoomMove;
        ev.guest = *g;
        ev.old_room = from;
        events.push_back(std::move(ev));
    }
    c.event = events.front();
    for (size_t i = 1; i < events.size(); ++i) c.more.push_back(events[i]);
    return c;
}

SimCmd message(const std::vector<std::string>& w, SimHotel& hotel) {
    if (w.size() < 4) return fail("usage: message ROOM GUESTNO TEXT...");
    SimGuest* g = hotel.find(w[1], w[2]);
    if (!g) return fail("no guest " + w[2] + " in room " + w[1]);
    SimMessage m{hotel.nextMessageId(), sim_field_text(joined(w, 3)), time(nullptr)};
    g->messages.push_back(m);
    SimEvent ev;
    ev.kind = SimEventKind::Message;
    ev.guest = *g;
    ev.message = m;
    return event(std::move(ev));
}

SimCmd folio(const std::vector<std::string>& w, SimHotel& hotel) {
    if (w.size() < 5) return fail("usage: folio ROOM GUESTNO AMOUNT DESCRIPTION...");
    SimGuest* g = hotel.find(w[1], w[2]);
    if (!g) return fail("no guest " + w[2] + " in room " + w[1]);
    auto amount = sim_parse_amount(w[3]);
    if (!amount) return fail("amount wants a decimal such as 12.50");
    SimFolioItem item{sim_field_text(joined(w, 4)), *amount, time(nullptr)};
    g->folio.push_back(item);
    SimEvent ev;
    ev.kind = SimEventKind::FolioUpdate;
    ev.guest = *g;
    ev.item = item;
    return event(std::move(ev));
}

SimCmd refuse(const std::vector<std::string>& w, SimHotel& hotel) {
    if (w.size() < 2) return fail("usage: refuse ROOM [STATUS [TEXT...]]");
    SimRefusal r;
    if (w.size() >= 3) r.status = sim_field_text(w[2]);
    if (w.size() >= 4) r.text = sim_field_text(joined(w, 3));
    hotel.addRoom(w[1]);
    hotel.refuse(w[1], r);
    return SimCmd{};
}

SimCmd wait(const std::vector<std::string>& w) {
    if (w.size() < 2 || w.size() > 3) return fail("usage: wait link|connect|TYPE [SECONDS]");
    SimCmd c;
    c.kind = SimCmdKind::Wait;
    c.what = w[1];
    c.seconds = 60;
    if (w.size() == 3) {
        auto s = sim_parse_seconds(w[2]);
        if (!s) return fail("wait wants seconds");
        c.seconds = *s;
    }
    if (c.what != "link" && c.what != "connect" && c.what.size() != 2) return fail("wait for link, connect or a record type");
    return c;
}

}  // namespace

SimCmd sim_run_command(const std::string& line, SimHotel& hotel) {
    auto split = sim_split_words(line);
    if (!split) return fail("unterminated quote");
    const auto& w = *split;
    if (w.empty()) return SimCmd{};
    const std::string& verb = w[0];
    if (verb == "room") {
        if (w.size() < 2) return fail("usage: room ROOM...");
        for (size_t i = 1; i < w.size(); ++i) hotel.addRoom(sim_field_text(w[i]));
        return SimCmd{};
    }
    if (verb == "checkin" || verb == "guest") return checkIn(w, hotel);
    if (verb == "checkout") return checkOut(w, hotel);
    if (verb == "change") return change(w, hotel);
    if (verb == "move") return move(w, hotel);
    if (verb == "message") return message(w, hotel);
    if (verb == "folio") return folio(w, hotel);
    if (verb == "refuse") return refuse(w, hotel);
    if (verb == "accept") {
        if (w.size() != 2) return fail("usage: accept ROOM");
        hotel.accept(w[1]);
        return SimCmd{};
    }
    if (verb == "nightaudit" || verb == "ns" || verb == "ne") {
        std::string what = verb == "ns" ? "start" : verb == "ne" ? "end" : w.size() == 2 ? w[1] : "";
        if (what == "start") return simple(SimEventKind::NightAuditStart);
        if (what == "end") return simple(SimEventKind::NightAuditEnd);
        return fail("usage: nightaudit start|end");
    }
    if (w.size() == 1) {
        if (verb == "resync") return simple(SimEventKind::Resync);
        if (verb == "drop") return simple(SimEventKind::Drop);
        if (verb == "linkstart") return simple(SimEventKind::LinkStart);
        if (verb == "linkend") return simple(SimEventKind::LinkEnd);
        if (verb == "show") return only(SimCmdKind::Show);
        if (verb == "quit" || verb == "exit") return only(SimCmdKind::Quit);
        if (verb == "help") return only(SimCmdKind::Help);
    }
    if (verb == "send") {
        SimEvent ev;
        ev.kind = SimEventKind::Raw;
        ev.raw = restOfLine(line, 1);
        if (ev.raw.empty()) return fail("usage: send RECORD");
        return event(std::move(ev));
    }
    if (verb == "sleep") {
        auto s = w.size() == 2 ? sim_parse_seconds(w[1]) : std::nullopt;
        if (!s) return fail("usage: sleep SECONDS");
        SimCmd c;
        c.kind = SimCmdKind::Sleep;
        c.seconds = *s;
        return c;
    }
    if (verb == "wait") return wait(w);
    if (verb == "fault") {
        if (w.size() < 2 || w.size() > 3) return fail("usage: fault WHAT [SECONDS] (try help)");
        SimCmd c;
        c.kind = SimCmdKind::Fault;
        c.what = w[1];
        c.seconds = -1;
        if (w.size() == 3) {
            auto s = sim_parse_seconds(w[2]);
            if (!s) return fail("fault wants seconds");
            c.seconds = *s;
        }
        return c;
    }
    return fail("unknown command '" + verb + "' (try help)");
}

bool sim_load_hotel(const std::string& path, SimHotel& hotel, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        auto words = sim_split_words(line);
        std::string verb = words && !words->empty() ? (*words)[0] : "";
        bool allowed = verb.empty() || verb == "room" || verb == "guest" || verb == "checkin" || verb == "folio" ||
                       verb == "message" || verb == "refuse";
        SimCmd c = allowed ? sim_run_command(line, hotel) : fail("'" + verb + "' does not belong in a hotel file");
        if (c.kind == SimCmdKind::Error) {
            error = path + ":" + std::to_string(number) + ": " + c.error;
            return false;
        }
    }
    return true;
}

const char* sim_command_help() {
    return "commands:\n"
           "  checkin ROOM GUESTNO LAST [FIRST] [vip=V lang=L group=G title=T arrive=YYMMDD depart=YYMMDD nights=N nopost=1]\n"
           "  checkout ROOM [GUESTNO]          check out the room, or one guest of it\n"
           "  change ROOM GUESTNO name=value... new guest data (last= first= vip= lang= group= depart= ...)\n"
           "  move OLDROOM NEWROOM [GUESTNO]   room move\n"
           "  message ROOM GUESTNO TEXT...     message waiting\n"
           "  folio ROOM GUESTNO AMOUNT TEXT... folio update (AMOUNT like 12.50)\n"
           "  nightaudit start|end             night audit (also: ns, ne)\n"
           "  resync                           send the whole in-house list (database resync)\n"
           "  drop                             break the connection (serial line: link end)\n"
           "  linkstart | linkend              send a link start / link end\n"
           "  send RECORD                      send a record as typed, e.g. send LA|\n"
           "  refuse ROOM [STATUS [TEXT]]      refuse postings to ROOM (default NP)\n"
           "  accept ROOM                      accept postings to ROOM again\n"
           "  room ROOM...                     add vacant rooms\n"
           "  show                             print the hotel\n"
           "  sleep SECONDS                    pause the commands\n"
           "  wait link|connect|TYPE [SECONDS] pause until the link is up, a connection, or a record arrives\n"
           "  fault cut-after-inquiry|cut-before-posting|cut-after-posting|cut-after-answer [SECONDS]\n"
           "                                   cut the link at that step of the next posting (a serial line\n"
           "                                   stays dead SECONDS, default 3, then the PMS starts it again)\n"
           "  fault silent SECONDS             the next posting is not taken; nothing is received or sent for SECONDS\n"
           "  fault noise                      send garbage frames and NUL bytes now\n"
           "  fault off                        disarm\n"
           "  quit";
}

// The small interface between the protocol-neutral core (transport, hotel,
// commands, trace) and one PMS protocol. A protocol is one module that
// implements SimProtocol and adds a line to the table in sim_protocol.cpp.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim_event.h"
#include "sim_fault.h"
#include "sim_hotel.h"
#include "sim_transport.h"

// What the core lends a protocol module.
class SimContext {
public:
    SimContext(SimHotel& hotel, SimTransport& transport) : hotel_(hotel), transport_(transport), faults_(transport) {}
    SimHotel& hotel() { return hotel_; }
    SimTransport& transport() { return transport_; }
    SimFaults& faults() { return faults_; }
    // Sends bytes as they stand (the module frames and traces them); while a
    // fault holds the line dead they are lost, as on a cut cable.
    bool write(const std::string& bytes) { return faults_.muted() || transport_.write(bytes); }
    // Where a posting stands, for the operator's faults: true when the
    // module is to stop handling the record (see SimFaults::at).
    bool fault(SimPoint point) { return faults_.at(point); }
    // A charge went on a folio.
    void taken(const std::string& room, long hundredths) { faults_.taken(room, hundredths); }
    // Counts a received record of `type` for the "wait TYPE" command.
    void recordSeen(const std::string& type) { ++seen_[type]; }
    long seenCount(const std::string& type) const {
        auto it = seen_.find(type);
        return it == seen_.end() ? 0 : it->second;
    }

private:
    SimHotel& hotel_;
    SimTransport& transport_;
    SimFaults faults_;
    std::map<std::string, long> seen_;
};

class SimProtocol : public SimTransport::Listener {
public:
    // connected(), disconnected() and received() come from the transport.
    // Called about ten times a second: time-outs and resends.
    virtual void tick() = 0;
    // An operator event; the hotel model is already changed.
    virtual void send(const SimEvent& event) = 0;
    // The link start exchange with the interface is complete.
    virtual bool linkUp() const = 0;
};

using SimProtocolFactory = std::unique_ptr<SimProtocol> (*)(SimContext&);

struct SimProtocolEntry {
    const char* name;
    const char* description;
    SimProtocolFactory make;
};

const std::vector<SimProtocolEntry>& sim_protocols();
const SimProtocolEntry* sim_find_protocol(const std::string& name);
// The protocol module that plays the PMS of a daemon VENDOR name; nullptr when none does.
const char* sim_protocol_for_vendor(const std::string& vendor);

// The protocol modules.
std::unique_ptr<SimProtocol> sim_make_fias(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_regal(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_fias_hnmux(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_nitevision(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_marriott(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_jds(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_micros4700(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_galavu(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_galaxy(SimContext& ctx);
std::unique_ptr<SimProtocol> sim_make_htng(SimContext& ctx);

// Faults the operator makes the simulated PMS commit, the same for every
// protocol: the link cut at one step of a posting, a PMS that goes silent,
// noise on the line. A protocol module only reports where it stands (an
// inquiry received, a posting received, a posting taken, its answer sent);
// what a cut or a silence does to the link is decided here, once.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "sim_transport.h"

// The steps of a posting a protocol module reports.
enum class SimPoint {
    Inquiry,   // a request for the room's guests ahead of a posting; not answered yet
    Posting,   // a posting record; not taken yet
    Taken,     // the charge is on the folio; the answer not sent yet
    Answered,  // the answer that says so is on its way
};

class SimFaults : public SimTransport::Listener {
public:
    explicit SimFaults(SimTransport& transport) : transport_(transport) {}
    // Received bytes and connection changes go to `protocol` unless the
    // line is dead.
    void attach(SimTransport::Listener& protocol) { protocol_ = &protocol; }

    // The operator's "fault WHAT [SECONDS]"; false with `why`.
    bool command(const std::string& what, std::optional<double> seconds, std::string& why);

    // From the protocol module: true when the record is not to be handled
    // any further (the link is being cut, or the PMS went silent).
    bool at(SimPoint point);
    // From the protocol module: a charge went on a folio. One line for every
    // protocol, so that a test counts what the PMS took.
    void taken(const std::string& room, long hundredths);

    // Nothing the PMS writes reaches the line.
    bool muted() const { return dead_; }
    // From the main loop after every turn: cuts that are due, the end of a
    // silence or of a dead serial line.
    void tick();

    void connected() override;
    void disconnected() override;
    void received(const std::string& bytes) override;

private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { None, CutAfterInquiry, CutBeforePosting, CutAfterPosting, CutAfterAnswer, Silent };

    void cut(const char* when);
    void sendNoise();
    void endDeadTime();

    SimTransport& transport_;
    SimTransport::Listener* protocol_ = nullptr;
    Kind armed_ = Kind::None;
    double seconds_ = 0;  // silence, or how long a serial line stays dead after a cut
    bool dead_ = false;   // nothing goes either way
    bool hang_up_ = false;                     // a TCP cut waits for the end of the turn
    std::optional<Clock::time_point> cut_at_;  // a cut after the answer has had time to arrive
    std::optional<Clock::time_point> dead_until_;
    bool restart_ = false;  // the protocol starts its link again when the line comes back
};

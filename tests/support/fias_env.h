// Surroundings of a FIAS vendor test: a scripted PMS on the far end of an
// open link (TCP or pseudo-terminal), short time-outs, a VIP file, and on
// request a fresh database and a multicast watcher.
#pragma once

#include <ctime>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fias_peer.h"
#include "link_env.h"
#include "pg_fixture.h"
#include "tmpfiles.h"
#include "vendors/fias/fias_profile.h"

struct FiasEnvOptions {
    bool serial = false;
    bool database = false;
    bool mcast = false;
    std::string settings;  // extra "KEY=VALUE\n" lines
    bool serial_rules = false;  // the PMS frames the serial way on TCP too
};

class FiasTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Configures, opens the link and connects the PMS. Call with ASSERT_NO_FATAL_FAILURE.
    void start(const FiasEnvOptions& opts);
    // Makes Micros-Fidelio the current vendor with its settings read, but
    // without a link start (the test plays the PMS for whatever it checks).
    void selectVendor();

    // Runs `f` on a thread of its own while the test plays the PMS.
    template <class F>
    auto async(F f) {
        return std::async(std::launch::async, std::move(f));
    }

    FiasVendor& vendor();
    // A multicast announcement decoded; fails the test when none came.
    std::string nextAnnouncement(int timeout_ms = 2000);

    std::unique_ptr<LinkEnv> env_;
    std::unique_ptr<FiasPeer> pms_;
    std::unique_ptr<PgTestDb> db_;
    std::unique_ptr<McastWatch> mcast_;
    std::string vip_path_;
};

// One message of the control port as a client sees it.
struct CtlMessage {
    int type = 0;
    int subtype = 0;
    std::string text;
};
// Sends one request to 127.0.0.1:port and reads messages until the daemon
// closes the connection (15 s per read: some answers wait 5 or 10 s
// for the PMS).
std::vector<CtlMessage> controlRequest(int port, int subtype, const std::string& data);

// "1 100\n2 90\n3 80 ... 10 10\n": code c posts 110 - 10c percent.
std::string fiasVipFile();

// The local time y-mo-d h:mi:s as seconds since the epoch.
time_t localTime(int y, int mo, int d, int h, int mi, int s);

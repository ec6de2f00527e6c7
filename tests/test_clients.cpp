// The three command-line clients against a real control socket served by
// this test process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>

#include "ctl_support.h"
#include "io_gwy/requests.h"
#include "io_gwy/server.h"
#include "platform/ctlclient.h"
#include "procrun.h"

namespace {

const char kUsage[] =
    "Usage: %s -r room -a amount [-p port]\nwhere\n\t-r room   Post the charge to this room "
    "number\n\t-a amount Post this amount\n\t-p vornpms control port\n\n\n";

std::string usageFor(const std::string& prog) {
    char buf[512];
    snprintf(buf, sizeof buf, kUsage, prog.c_str());
    return buf;
}

}  // namespace

TEST(Clients, PostChargeWithoutRoomPrintsUsage) {
    const std::string prog = binPath("vornpms_post_charge");
    RunResult r = runProgram({prog, "-a", "2.50"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Both the room number and amount must be specified\n\n");
    EXPECT_EQ(r.out, usageFor(prog));

    r = runProgram({prog, "-x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(usageFor(prog)), std::string::npos);
}

TEST(Clients, PostChargeSuccess) {
    ControlPort cp;
    TestVendorSelected vendor;
    ServeThread serve(cp.fd());
    const std::string port = std::to_string(cp.port());
    time_t before = time(nullptr);
    RunResult r =
        runProgram({binPath("vornpms_post_charge"), "-r", "101", "-a", "2.50", "-p", port});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Sending post request to vorpms on port [" + port +
                         "]: room[101] amount[2.50]\nvornpms post charge request received\n");
    std::lock_guard lock(testVendor().mutex);
    EXPECT_EQ(testVendor().post_room, "101");
    EXPECT_FLOAT_EQ(testVendor().post_charge, 2.5f);
    EXPECT_EQ(testVendor().post_description, "Test post using vornpms_post_charge");
    EXPECT_EQ(testVendor().post_duration, 0);
    EXPECT_GE(testVendor().post_start, before);
    EXPECT_LE(testVendor().post_start, time(nullptr));
}

TEST(Clients, PostChargeRefusedExitsOne) {
    ControlPort cp;
    TestVendorSelected vendor(bareVendorDescriptor);  // no posting slot: code 3
    ServeThread serve(cp.fd());
    RunResult r = runProgram({binPath("vornpms_post_charge"), "-r", "101", "-a", "2.50", "-p",
                              std::to_string(cp.port())});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("request received"), std::string::npos);
}

TEST(Clients, RtBillingAndDbSwap) {
    ControlPort cp;
    TestVendorSelected vendor;
    ServeThread serve(cp.fd());
    const std::string port = std::to_string(cp.port());

    RunResult r = runProgram({binPath("vornpms_rt_billing"), "-p", port});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Sending rt billing request to vorpms on port [" + port +
                         "]\nRT Billing Response received\n");
    r = runProgram({binPath("vornpms_db_swap"), "-q", "-p", port});  // -q is ignored
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Sending db swap request to vorpms on port [" + port +
                         "]\nDB Swap reponse received\n");
    std::lock_guard lock(testVendor().mutex);
    EXPECT_EQ(testVendor().billing_runs, 1);
}

TEST(Clients, BusyDaemonMeansFailure) {
    ControlPort cp;
    TestVendorSelected vendor;
    svr_setBusy();
    ServeThread serve(cp.fd());
    RunResult r = runProgram({binPath("vornpms_rt_billing"), "-p", std::to_string(cp.port())});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("Response received"), std::string::npos);

    // The client call itself returns the explanation and its code.
    auto answer =
        pms_MakeRequest("127.0.0.1", static_cast<uint16_t>(cp.port()), PMS_REQ_RT_BILLING, {});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->type, SVR_MSG_RESULT);
    EXPECT_EQ(answer->code, 1);
    EXPECT_EQ(answer->text, "PMS Server Unavailable. Please retry later.");
    EXPECT_FALSE(pms_answerIsSuccess(answer));
}

TEST(Clients, NoDaemonMeansFailure) {
    int port;
    {
        ControlPort cp;
        port = cp.port();
    }  // closed again: nothing listens there now
    EXPECT_FALSE(pms_MakeRequest("127.0.0.1", static_cast<uint16_t>(port), PMS_REQ_DB_SWAP, {}));
    RunResult r = runProgram({binPath("vornpms_db_swap"), "-p", std::to_string(port)});
    EXPECT_EQ(r.status, 1);
}

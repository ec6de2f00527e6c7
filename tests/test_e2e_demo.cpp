// scripts/demo in its timed mode: it must post the demo charges, check the
// demo guest in, and leave nothing running or lying around.
#include <dirent.h>
#include <sys/stat.h>

#include <regex>

#include <gtest/gtest.h>

#include "procrun.h"
#include "tmpfiles.h"

namespace {

// Processes whose command line mentions `text`.
int processesMentioning(const std::string& text) {
    int n = 0;
    DIR* d = opendir("/proc");
    if (!d) return -1;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::string cmd = readFile(std::string("/proc/") + e->d_name + "/cmdline");
        for (char& c : cmd)
            if (c == '\0') c = ' ';
        if (cmd.find(text) != std::string::npos) ++n;
    }
    closedir(d);
    return n;
}

}  // namespace

TEST(E2eDemo, TimedRunPostsTheChargesChecksInTheGuestAndCleansUp) {
    if (system("ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "PostgreSQL server not installed";
    RunResult r = runProgram({"/bin/bash", std::string(VORNPMS_SOURCE_DIR) + "/scripts/demo", "--for", "90"},
                             {std::string("VORNPMS_BIN_DIR=") + VORNPMS_BIN_DIR}, 150000);
    std::string all = r.out + r.err;
    EXPECT_EQ(r.status, 0) << all;
    EXPECT_NE(all.find("== demo result: 3 of 3 charges posted; guest 1004 in room 103: checked in"), std::string::npos)
        << all;
    // What the user is promised to see.
    EXPECT_NE(all.find("[pmssim]"), std::string::npos);
    EXPECT_NE(all.find("-- link up"), std::string::npos) << all;
    EXPECT_NE(all.find("[mcast] 1 check-in first[Anna] last[Keller] guest[1004] room[103]"), std::string::npos) << all;
    EXPECT_NE(all.find("[vornpms] BILLING posted"), std::string::npos) << all;

    std::smatch m;
    ASSERT_TRUE(std::regex_search(all, m, std::regex("work directory (/tmp/vornpms-demo\\.[A-Za-z0-9]+)"))) << all;
    std::string work = m[1];
    struct stat st {};
    EXPECT_NE(stat(work.c_str(), &st), 0) << work << " left behind";
    EXPECT_EQ(processesMentioning(work), 0) << "processes of " << work << " still running";
}

TEST(E2eDemo, NiteVisionRunReadsTheGuestFileOverSftpAndCleansUp) {
    if (system("ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "PostgreSQL server not installed";
    RunResult r = runProgram({"/bin/bash", std::string(VORNPMS_SOURCE_DIR) + "/scripts/demo", "--vendor",
                              "NiteVisionSFTP 1-way", "--for", "90"},
                             {std::string("VORNPMS_BIN_DIR=") + VORNPMS_BIN_DIR}, 150000);
    std::string all = r.out + r.err;
    EXPECT_EQ(r.status, 0) << all;
    EXPECT_NE(all.find("== demo result: guests in house from the SFTP guest file: "
                       "101 Smith,102 Garcia,102 Garcia,103 Keller"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("[mcast] 1 check-in first[Anna] last[Keller] guest[] room[103]"), std::string::npos) << all;
    // The host key was pinned, so no login warned about it.
    EXPECT_EQ(all.find("SFTP_HOSTKEY not set"), std::string::npos) << all;

    std::smatch m;
    ASSERT_TRUE(std::regex_search(all, m, std::regex("work directory (/tmp/vornpms-demo\\.[A-Za-z0-9]+)"))) << all;
    std::string work = m[1];
    struct stat st {};
    EXPECT_NE(stat(work.c_str(), &st), 0) << work << " left behind";
    EXPECT_EQ(processesMentioning(work), 0) << "sshd or others of " << work << " still running";
    EXPECT_EQ(readFile("/etc/passwd").find("vornpms-demo-"), std::string::npos) << "the demo's SFTP user is left";
}

// The line-protocol vendors against the simulator: charges posted, the
// check-in named through LOOK.
class E2eDemoLine : public ::testing::TestWithParam<const char*> {};

TEST_P(E2eDemoLine, TimedRunPostsAndNamesTheCheckIn) {
    if (system("ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "PostgreSQL server not installed";
    RunResult r = runProgram({"/bin/bash", std::string(VORNPMS_SOURCE_DIR) + "/scripts/demo", "--vendor", GetParam(),
                              "--for", "90"},
                             {std::string("VORNPMS_BIN_DIR=") + VORNPMS_BIN_DIR}, 150000);
    std::string all = r.out + r.err;
    EXPECT_EQ(r.status, 0) << all;
    EXPECT_NE(all.find("== demo result: 3 of 3 charges posted; guest 1004 in room 103: checked in"), std::string::npos)
        << all;
    EXPECT_NE(all.find("-- link up"), std::string::npos) << all;
    EXPECT_NE(all.find("[mcast] 1 check-in first[Anna] last[Keller] guest[] room[103]"), std::string::npos) << all;
}

INSTANTIATE_TEST_SUITE_P(Vendors, E2eDemoLine, ::testing::Values("Marriott 2-way", "MarriottFOSSE 2-way"),
                         [](const auto& info) { return std::string(info.index == 0 ? "Marriott" : "Fosse"); });

class E2eDemoTxn : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

// The daemon against the simulator on each transaction-id protocol, JDS,
// Micros 4700 and the other FIAS vendors: linked, the guest checked in
// (Micros 4700 learns it by asking), and the charges posted where the vendor
// takes them.
TEST_P(E2eDemoTxn, DemoRunLinksChecksInAndPosts) {
    if (system("ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "PostgreSQL server not installed";
    RunResult r = runProgram({"/bin/bash", std::string(VORNPMS_SOURCE_DIR) + "/scripts/demo", "--vendor",
                              GetParam().first, "--for", "60"},
                             {std::string("VORNPMS_BIN_DIR=") + VORNPMS_BIN_DIR}, 120000);
    std::string all = r.out + r.err;
    EXPECT_EQ(r.status, 0) << all;
    EXPECT_NE(all.find("-- link up"), std::string::npos) << all;
    EXPECT_NE(all.find(std::string("== demo result: ") + GetParam().second +
                       " of 3 charges posted; guest 1004 in room 103: checked in"),
              std::string::npos)
        << all;
}

INSTANTIATE_TEST_SUITE_P(Vendors, E2eDemoTxn,
                         ::testing::Values(std::pair{"GalaVu 2-way", "3"}, std::pair{"Galaxy 2-way", "3"},
                                           std::pair{"HTNG 2-way", "0"}),
                         [](const auto& info) {
                             std::string n = info.param.first;
                             return n.substr(0, n.find(' '));
                         });

INSTANTIATE_TEST_SUITE_P(Singles, E2eDemoTxn,
                         ::testing::Values(std::pair{"JDS 2-way", "3"}, std::pair{"Micros4700 1.5-way", "3"},
                                           std::pair{"Optima 2-way", "3"}, std::pair{"Regal 2-way", "3"}),
                         [](const auto& info) {
                             std::string n = info.param.first;
                             return n.substr(0, n.find(' '));
                         });

// The link traffic log rotated by logrotate with the packaged rotation file
// while the PMS keeps talking: every record the PMS sent is in exactly one of
// the files, none lost, none twice.
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <future>
#include <regex>

#include <gtest/gtest.h>

#include "daemon_harness.h"
#include "loopback_peer.h"
#include "procrun.h"
#include "tmpfiles.h"

namespace {

std::string record(int i) {
    char last[16];
    snprintf(last, sizeof last, "Seq%03d", i);
    return std::to_string(5000 + i) + ",x,2030-05-01,2030-05-03,x,101,x," + last + ",Ann";
}

// The packaged rotation file, pointed at the test's log and daemon.
std::string rotationConfig(const std::string& dir, pid_t pid) {
    std::string conf = readFile(std::string(VORNPMS_SOURCE_DIR) + "/packaging/vornpms.logrotate");
    conf = std::regex_replace(conf, std::regex("/var/log/vornpms/"), dir + "/");
    conf = std::regex_replace(conf, std::regex("systemctl kill [^\n]*"), "kill -HUP " + std::to_string(pid));
    return conf;
}

}  // namespace

TEST(LinkLogRotation, NoLineLostWhileThePmsTalks) {
    if (access("/usr/sbin/logrotate", X_OK) != 0) GTEST_SKIP() << "logrotate is not installed (scripts/install-deps)";
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    TempDir logs;
    chmod(logs.path().c_str(), 0755);
    ASSERT_TRUE(d.start(pms.port(), "LINKLOGFILE=" + logs.path() + "/link.log\n"));
    StreamPeer peer = pms.accept(10000);
    ASSERT_GE(peer.fd(), 0) << d.log();

    std::string conf = logs.path() + "/rotate.conf";
    FILE* f = fopen(conf.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(rotationConfig(logs.path(), d.pid()).c_str(), f);
    fclose(f);
    chmod(conf.c_str(), 0644);
    auto rotate = [&] {
        return runProgram({"/usr/sbin/logrotate", "-f", "-s", logs.path() + "/state", conf});
    };

    constexpr int kRecords = 30;
    std::future<RunResult> rotation;
    std::vector<RunResult> rotations;
    for (int i = 0; i < kRecords; ++i) {
        // Two rotations in the middle of the talk; the second compresses the first's file.
        if (i == 10 || i == 20) rotation = std::async(std::launch::async, rotate);
        ASSERT_TRUE(peer.send(agilysysFrame(record(i))));
        ASSERT_EQ(peer.receive(1, 3000), "\x06") << "record " << i << d.log();
        if (i == 12 || i == 22) rotations.push_back(rotation.get());
    }
    for (const RunResult& r : rotations) EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(d.countLog("Received SIGHUP, close and open link log"), 2);

    RunResult old2 = runProgram({"/bin/gzip", "-dc", logs.path() + "/link.log.2.gz"});
    ASSERT_EQ(old2.status, 0) << old2.err;
    const std::string files[] = {old2.out, readFile(logs.path() + "/link.log.1"), readFile(logs.path() + "/link.log")};
    for (const std::string& text : files) {
        EXPECT_NE(text.find("* Logging initialized"), std::string::npos) << text;
    }
    EXPECT_NE(files[0].find("* Logging terminated"), std::string::npos);
    EXPECT_NE(files[1].find("* Logging terminated"), std::string::npos);
    std::string all = files[0] + files[1] + files[2];
    for (int i = 0; i < kRecords; ++i) {
        std::string want = "< " + record(i) + "\x03\n";
        size_t first = all.find(want);
        EXPECT_NE(first, std::string::npos) << "record " << i << " lost";
        if (first != std::string::npos) {
            EXPECT_EQ(all.find(want, first + 1), std::string::npos) << "record " << i << " twice";
        }
    }
    // Each file holds a contiguous run of the records, in order.
    size_t last = 0;
    for (int i = 0; i < kRecords; ++i) {
        size_t at = all.find("< " + record(i) + "\x03\n");
        if (at == std::string::npos) continue;
        EXPECT_GT(at, last) << "record " << i << " out of order";
        last = at;
    }
}

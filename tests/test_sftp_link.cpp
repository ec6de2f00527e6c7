// The PMS link over SFTP against a real OpenSSH server on 127.0.0.1: logins
// refused, the newest-file choice, large reads, the login directory, and a
// server that goes away and comes back.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>

#include "io_pms/io_sftp.h"
#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "loopback_peer.h"
#include "netutil.h"
#include "sshd_server.h"
#include "state.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> lines(const std::string& config) {
    std::vector<std::string> out;
    size_t start = 0, nl;
    while ((nl = config.find('\n', start)) != std::string::npos) {
        if (nl > start) out.push_back(config.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

class SftpLinkTest : public ::testing::Test {
protected:
    void SetUp() override { SSHD_REQUIRE(sshd); }
    // Settings for this server, `extra` first (the first line of a key wins).
    void configure(const std::vector<std::string>& extra = {}, bool pin = true) {
        std::vector<std::string> s = extra;
        // Generous for the real server on a busy machine; the refusals use 1 s.
        for (auto& l : lines(sshd.linkConfig(3, pin))) s.push_back(l);
        env.configure(s);
    }
    void openLink(const std::vector<std::string>& extra = {}, bool pin = true) {
        configure(extra, pin);
        ASSERT_GE(link_open(), 0) << dump();
        ASSERT_EQ(link_type(), LINK_TYPE_SFTP);
    }
    std::string dump() const {
        std::string out;
        for (const auto& l : log.lines()) out += l + "\n";
        return out + sshd.log();
    }
    bool passwordLogged() const {
        for (const auto& l : log.lines())
            if (l.find(sshd.password()) != std::string::npos) return true;
        return false;
    }

    LogCapture log;
    LinkEnv env;
    SshdServer sshd;
};

}  // namespace

TEST_F(SftpLinkTest, LoginsRefused) {
    TcpListener silent;  // accepts TCP, never says a word
    const int closed_port = freeTcpPort();
    struct Case {
        const char* what;
        std::vector<std::string> settings;
        std::string logged;
    } cases[] = {
        {"wrong password", {"SFTP_PASSWORD=not-the-password"}, "io_sftp_open: libssh2 user auth failed"},
        {"wrong host key",
         {"SFTP_HOSTKEY=SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
         "host key of 127.0.0.1:" + std::to_string(sshd.port()) + " does not match: the server shows " +
             sshd.hostkey() + ", SFTP_HOSTKEY is SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA; refusing"},
        {"nothing listening", {"PMSCOMMOPTS=127.0.0.1|" + std::to_string(closed_port)},
         "io_sftp_open: Unable to connect to remote address '127.0.0.1'"},
        {"silent server", {"PMSCOMMOPTS=127.0.0.1|" + std::to_string(silent.port()), "PMSCOMMTIMEOUT=1"},
         "io_sftp_open: Failure establishing SSH session: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log.clear();
        configure(c.settings);
        auto t0 = Clock::now();
        EXPECT_LT(link_open(), 0);
        // PMSCOMMTIMEOUT bounds every wait.
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
        EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
        EXPECT_EQ(pms_fd_client, -1);
        EXPECT_TRUE(log.contains(c.logged)) << c.logged << "\n" << dump();
        EXPECT_FALSE(passwordLogged());
    }
    // Only the wrong password reached sshd, not the one refused by host key.
    const std::string sshd_log = sshd.log();
    EXPECT_EQ(sshd_log.find("Failed password"), sshd_log.rfind("Failed password")) << sshd_log;
}

TEST_F(SftpLinkTest, HostKeyPinnedOrReported) {
    // Not pinned: the login goes on and the fingerprint seen is logged.
    openLink({}, false);
    EXPECT_TRUE(log.contains("(SFTP_HOSTKEY not set); the server shows " + sshd.hostkey()));
    link_close();
    log.clear();
    // Pinned with the form ssh-keygen prints (a padded copy counts too).
    openLink({"SFTP_HOSTKEY= " + sshd.hostkey() + "= "});
    EXPECT_FALSE(log.contains("SFTP_HOSTKEY not set"));
    EXPECT_FALSE(passwordLogged());
}

TEST_F(SftpLinkTest, NewestRegularFileOfTheLoginDirectory) {
    openLink();
    std::string name;
    // Empty directory: size 0, no name.
    EXPECT_EQ(link_determine_newest_file(name), 0);
    EXPECT_EQ(name, "");

    const time_t base = time(nullptr) - 1000;
    sshd.put("old.txt", "old", base);
    sshd.put("newest.txt", "newest!", base + 20);
    sshd.put("middle.txt", "middle", base + 10);
    // A newer subdirectory (with a newer file inside) is no candidate.
    std::string sub = sshd.files() + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    sshd.put("sub/inner.txt", "inner", base + 100);
    timespec t[2] = {{base + 100, 0}, {base + 100, 0}};
    utimensat(AT_FDCWD, sub.c_str(), t, 0);

    // SFTP_DIR unset ("~/") is the login directory.
    EXPECT_EQ(link_determine_newest_file(name), 7) << dump();
    EXPECT_EQ(name, "newest.txt");
    std::string text;
    EXPECT_EQ(link_read_file(name, 7, text), 7);
    EXPECT_EQ(text, "newest!");
    link_close();

    // An absolute directory, and "~/sub" below the login directory.
    for (const std::string& dir : {sub, std::string("~/sub")}) {
        openLink({"SFTP_DIR=" + dir});
        EXPECT_EQ(link_determine_newest_file(name), 5) << dir;
        EXPECT_EQ(name, "inner.txt");
        EXPECT_EQ(link_read_file(name, 5, text), 5);
        EXPECT_EQ(text, "inner");
        link_close();
    }
    EXPECT_EQ(LinkEnv::sigpipes(), 0);
}

TEST_F(SftpLinkTest, LargeFileIsReadWholeAndNoFurtherThanListed) {
    std::string big(1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + (i * 7) % 26);
    sshd.put("big.txt", big, time(nullptr) - 5);
    openLink();
    std::string name, text;
    ASSERT_EQ(link_determine_newest_file(name), 1024 * 1024);
    ASSERT_EQ(link_read_file(name, 1024 * 1024, text), 1024 * 1024);
    EXPECT_TRUE(text == big);
    // The file grew after it was listed: only the listed size is read.
    EXPECT_EQ(link_read_file(name, 100, text), 100);
    EXPECT_EQ(text, big.substr(0, 100));
    // A file that is gone fails the read and closes the link.
    EXPECT_LT(link_read_file("missing.txt", 10, text), 0);
    EXPECT_EQ(LinkEnv::sigpipes(), 1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
}

TEST_F(SftpLinkTest, ServerStoppedAndRestarted) {
    sshd.put("g.txt", "guests", time(nullptr) - 5);
    openLink();
    ASSERT_TRUE(sshd.stop());
    std::string name;
    auto t0 = Clock::now();
    EXPECT_LT(link_determine_newest_file(name), 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(7));
    EXPECT_EQ(LinkEnv::sigpipes(), 1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
    EXPECT_LT(link_open(), 0);  // nobody listening

    ASSERT_TRUE(sshd.start()) << sshd.error();
    ASSERT_GE(link_open(), 0) << sshd.log();
    EXPECT_EQ(link_determine_newest_file(name), 6);
    EXPECT_EQ(name, "g.txt");
}

TEST(SftpFingerprint, FormAndComparison) {
    // SHA-256 of nothing, as OpenSSH writes it.
    const unsigned char empty[32] = {0xe3, 0xb0, 0xc4, 0x42, 0x98, 0xfc, 0x1c, 0x14, 0x9a, 0xfb, 0xf4,
                                     0xc8, 0x99, 0x6f, 0xb9, 0x24, 0x27, 0xae, 0x41, 0xe4, 0x64, 0x9b,
                                     0x93, 0x4c, 0xa4, 0x95, 0x99, 0x1b, 0x78, 0x52, 0xb8, 0x55};
    const std::string fp = io_sftp_fingerprint(std::string_view(reinterpret_cast<const char*>(empty), 32));
    EXPECT_EQ(fp, "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU");
    EXPECT_TRUE(io_sftp_same_fingerprint(fp, " " + fp + "=\t"));
    EXPECT_FALSE(io_sftp_same_fingerprint(fp, "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU"));
    EXPECT_FALSE(io_sftp_same_fingerprint(fp, "SHA256:47deqpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU"));
}

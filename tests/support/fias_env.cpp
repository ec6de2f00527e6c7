#include "fias_env.h"
#include "netutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>

#include "db.h"
#include "link.h"
#include "platform/mcast.h"
#include "state.h"
#include "vendor.h"
#include "vendors/MicrosFidelio.h"
#include "vendors/fias/fias_link.h"

namespace {

VendorDescriptor micfid_without_link_start() {
    VendorDescriptor d = micfid_vendor_descriptor();
    d.init = [] { return fias_load_settings(micfid_vendor()) ? 1 : 0; };
    return d;
}

}  // namespace

std::string fiasVipFile() {
    std::string text;
    for (int code = 1; code <= 10; ++code) text += std::to_string(code) + " " + std::to_string(110 - 10 * code) + "\n";
    return text;
}

void FiasTest::start(const FiasEnvOptions& opts) {
    micfid_vendor().s = FiasState{};
    env_ = std::make_unique<LinkEnv>();
    pms_ = opts.serial ? FiasPeer::serial() : FiasPeer::tcp();
    ASSERT_TRUE(pms_);
    if (opts.serial_rules) pms_->useSerialRules();
    vip_path_ = env_->dir().write("vip.cfg", fiasVipFile());

    std::string text = pms_->linkConfig() + "PMSCOMMTIMEOUT=1\nFLUSHTIMEOUT=1\nDBINITTIMEOUT=1\nVIPFILE=" + vip_path_ +
                       "\n" + opts.settings;
    if (opts.database) {
        db_ = std::make_unique<PgTestDb>();
        PG_REQUIRE(*db_);
        text += db_->configLines();
    }
    if (opts.mcast) {
        mcast_ = std::make_unique<McastWatch>();
        text += "PMSMCAST_PORT=" + std::to_string(mcast_->port()) + "\n";
    }
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    ASSERT_NO_FATAL_FAILURE(env_->configure(lines));

    if (opts.database) {
        ASSERT_EQ(db_connect(), 1);
    }
    if (opts.mcast) {
        ASSERT_EQ(vornpmsmcast_init_client(kMcastGroup, "127.0.0.1"), 0);
    }
    pms_fd_client = link_open();
    ASSERT_GE(pms_fd_client, 0);
    ASSERT_TRUE(pms_->accept());
}

void FiasTest::selectVendor() {
    vendor_set_factory(VENDOR_MICROS_FIDELIO, micfid_without_link_start);
    ASSERT_EQ(vendor_init("Micros-Fidelio 2-way"), VENDOR_MICROS_FIDELIO);
}

void FiasTest::TearDown() {
    vendor_set_factory(VENDOR_MICROS_FIDELIO, nullptr);
    if (link_type() != LINK_TYPE_CLOSED) link_close();
    if (mcast_) vornpmsmcast_close_client();
    if (db_) db_disconnect();
}

FiasVendor& FiasTest::vendor() { return micfid_vendor(); }

std::string FiasTest::nextAnnouncement(int timeout_ms) {
    if (!mcast_) return "";
    auto d = mcast_->next(timeout_ms);
    if (!d) {
        ADD_FAILURE() << "no multicast announcement";
        return "";
    }
    return *d;
}

std::vector<CtlMessage> controlRequest(int port, int subtype, const std::string& data) {
    std::vector<CtlMessage> out;
    int fd = connectLoopback(port);
    if (fd < 0) return out;
    char head[8];
    snprintf(head, sizeof head, "%02d%02d", 1, subtype);
    std::string req = std::string(1, '\x02') + head + data + '\x03';
    if (write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) {
        close(fd);
        return out;
    }
    std::string buf;
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 15000) <= 0) break;
        char chunk[1024];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        buf.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    size_t pos = 0;
    for (;;) {
        size_t stx = buf.find('\x02', pos);
        if (stx == std::string::npos) break;
        size_t etx = buf.find('\x03', stx);
        if (etx == std::string::npos || etx < stx + 5) break;
        CtlMessage m;
        m.type = std::stoi(buf.substr(stx + 1, 2));
        m.subtype = std::stoi(buf.substr(stx + 3, 2));
        m.text = buf.substr(stx + 5, etx - stx - 5);
        out.push_back(m);
        pos = etx + 1;
    }
    return out;
}

time_t localTime(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

// The operator's view of a running daemon: asks it for its status over the
// control port, counts the unposted charges in the database, and prints both,
// as text or in the Prometheus text format (for node_exporter's textfile
// collector). Exit status 0 when both answered; 2 when the daemon did not,
// 3 when only the database did not, 1 for a bad command line or configuration.
#include <getopt.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "platform/cfgfile.h"
#include "platform/ctlclient.h"
#include "platform/log.h"
#include "status.h"

namespace {

constexpr const char* kConfigPaths[] = {"/etc/vornpms/vornpms.cfg", "/usr/local/Tessarine/etc/vornpms.cfg"};

struct DaemonView {
    std::map<std::string, std::string> fields;  // vendor, link, server, record_time, record, last_post
    std::string field(const std::string& key) const {
        auto it = fields.find(key);
        return it == fields.end() ? "" : it->second;
    }
    long number(const std::string& key) const { return strtol(field(key).c_str(), nullptr, 10); }
};

struct Charges {
    long unposted = 0;
    long oldest_age = 0;  // seconds; 0 when there is none
};

std::string setting(const ConfigList& cfg, const char* key, const std::string& dflt = "") {
    const std::string* v = vorn_GetConfigItem(cfg, key);
    return v && !v->empty() ? *v : dflt;
}

// The control answer's "key=value" lines; nullopt when the daemon did not answer with one.
std::optional<DaemonView> askDaemon(const std::string& host, uint16_t port) {
    std::optional<PmsAnswer> answer = pms_MakeRequest(host, port, PMS_REQ_DAEMON_STATUS, {});
    if (!answer || answer->type != 2 || !answer->text) return std::nullopt;
    DaemonView view;
    size_t pos = 0;
    const std::string& text = *answer->text;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        size_t eq = line.find('=');
        if (eq != std::string::npos) view.fields[line.substr(0, eq)] = line.substr(eq + 1);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    if (!view.fields.count("link")) return std::nullopt;
    return view;
}

// Unposted charges of this interface instance; nullopt with `why` set when
// the database cannot be asked.
std::optional<Charges> askDatabase(const ConfigList& cfg, std::string& why) {
    std::string name = setting(cfg, "DBNAME"), user = setting(cfg, "DBUSER"), pass = setting(cfg, "DBPASS");
    std::string host = setting(cfg, "DBHOST"), port = setting(cfg, "DBPORT");
    const char* keys[] = {"dbname", "user", "password", "host", "port", "connect_timeout", nullptr};
    // libpq skips empty values: an unset DBHOST or DBPORT means its own defaults.
    const char* values[] = {name.c_str(), user.c_str(), pass.c_str(), host.c_str(), port.c_str(), "5", nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 0);
    auto firstLine = [](const char* msg) {
        std::string s = msg ? msg : "";
        size_t nl = s.find('\n');
        return nl == std::string::npos ? s : s.substr(0, nl);
    };
    if (PQstatus(conn) != CONNECTION_OK) {
        why = firstLine(PQerrorMessage(conn));
        PQfinish(conn);
        return std::nullopt;
    }
    std::string psi = std::to_string(strtol(setting(cfg, "PSI_NO", "0").c_str(), nullptr, 10));
    const char* params[] = {psi.c_str()};
    PGresult* res = PQexecParams(conn,
                                 "SELECT count(*), coalesce(greatest(0, extract(epoch FROM now() - "
                                 "min(ses_reg_time_dt)))::bigint, 0) FROM session_info "
                                 "WHERE ses_posted_flag = 0 AND ses_psi_no = $1::integer",
                                 1, nullptr, params, nullptr, nullptr, 0);
    std::optional<Charges> out;
    if (PQresultStatus(res) == PGRES_TUPLES_OK && PQntuples(res) == 1) {
        out = Charges{strtol(PQgetvalue(res, 0, 0), nullptr, 10), strtol(PQgetvalue(res, 0, 1), nullptr, 10)};
    } else {
        why = firstLine(PQresultErrorMessage(res));
    }
    PQclear(res);
    PQfinish(conn);
    return out;
}

std::string when(long t) {
    if (t <= 0) return "never";
    time_t tt = static_cast<time_t>(t);
    tm local{};
    localtime_r(&tt, &local);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string age(long seconds) {
    char text[64];
    if (seconds < 120)
        snprintf(text, sizeof text, "%ld s", seconds);
    else if (seconds < 7200)
        snprintf(text, sizeof text, "%ld min", seconds / 60);
    else
        snprintf(text, sizeof text, "%ld h %ld min", seconds / 3600, seconds / 60 % 60);
    return text;
}

void printText(const DaemonView& d, const Charges& c) {
    std::string vendor = d.field("vendor");
    printf("vornpms: %s, link %s, %s\n", vendor.empty() ? "no VENDOR" : vendor.c_str(), d.field("link").c_str(),
           d.field("server").c_str());
    if (d.number("record_time") > 0)
        printf("last PMS record: %s  %s\n", when(d.number("record_time")).c_str(), d.field("record").c_str());
    else
        printf("last PMS record: none since the daemon started\n");
    printf("last posting: %s\n", when(d.number("last_post")).c_str());
    if (c.unposted > 0)
        printf("unposted charges: %ld, the oldest %s old\n", c.unposted, age(c.oldest_age).c_str());
    else
        printf("unposted charges: 0\n");
}

std::string labelValue(const std::string& s) {
    std::string out;
    for (char ch : s) {
        if (ch == '\\' || ch == '"') out.push_back('\\');
        if (ch == '\n') {
            out += "\\n";
            continue;
        }
        out.push_back(ch);
    }
    return out;
}

void metric(const char* name, const char* help, const std::string& labels, long value) {
    printf("# HELP %s %s\n# TYPE %s gauge\n%s%s %ld\n", name, help, name, name, labels.c_str(), value);
}

// Every figure the text view shows; a part that did not answer shows as 0
// in its *_up gauge and leaves its own figures out.
void printPrometheus(const std::optional<DaemonView>& d, const std::optional<Charges>& c) {
    metric("vornpms_up", "1 when the daemon answered on its control port.", "", d ? 1 : 0);
    metric("vornpms_database_up", "1 when the gateway database answered.", "", c ? 1 : 0);
    if (d) {
        std::string labels = "{vendor=\"" + labelValue(d->field("vendor")) + "\"}";
        metric("vornpms_link_up", "1 while the PMS link is open.", labels, d->field("link") == "up" ? 1 : 0);
        metric("vornpms_ready", "1 while the interface is READY, 0 while BUSY.", "",
               d->field("server") == "READY" ? 1 : 0);
        metric("vornpms_last_record_timestamp_seconds", "Time of the last record from the PMS; 0: none yet.", "",
               d->number("record_time"));
        metric("vornpms_last_posting_timestamp_seconds", "Time of the last posting; 0: none yet.", "",
               d->number("last_post"));
    }
    if (c) {
        metric("vornpms_unposted_charges", "Charges waiting to be posted.", "", c->unposted);
        metric("vornpms_oldest_unposted_charge_age_seconds", "Age of the oldest unposted charge; 0: none.", "",
               c->oldest_age);
    }
}

void usage(const char* prog) {
    printf("Usage: %s [-c file] [-p port] [--prometheus]\n"
           "where\n"
           "\t-c file       Configuration file of the daemon [%s, else %s]\n"
           "\t-p port       Control port (default: CONTROLPORT of the configuration)\n"
           "\t--prometheus  Print the figures in the Prometheus text format\n",
           prog, kConfigPaths[0], kConfigPaths[1]);
}

}  // namespace

int main(int argc, char* argv[]) {
    vornMSG_Setup("vornpms_status", 0, 176, 0);
    std::string config_path;
    std::optional<long> port_option;
    bool prometheus = false;
    static const option longs[] = {{"prometheus", no_argument, nullptr, 'P'}, {"help", no_argument, nullptr, 'h'},
                                   {nullptr, 0, nullptr, 0}};
    int opt;
    while ((opt = getopt_long(argc, argv, "c:p:h", longs, nullptr)) != -1) {
        switch (opt) {
            case 'c': config_path = optarg; break;
            case 'p': port_option = strtol(optarg, nullptr, 10); break;
            case 'P': prometheus = true; break;
            default: usage(argv[0]); return 1;
        }
    }
    if (config_path.empty()) {
        config_path = kConfigPaths[1];
        if (access(kConfigPaths[0], F_OK) == 0) config_path = kConfigPaths[0];
    }
    ConfigList cfg;
    if (vorn_ConfigRead(config_path, cfg) != 0) {
        fprintf(stderr, "vornpms_status: cannot read %s: %m\n", config_path.c_str());
        return 1;
    }
    long port = port_option.value_or(strtol(setting(cfg, "CONTROLPORT", "0").c_str(), nullptr, 10)) & 0xffff;
    if (port == 0) {
        fprintf(stderr, "vornpms_status: no control port: CONTROLPORT is not set in %s\n", config_path.c_str());
        return 1;
    }
    std::string host = setting(cfg, "CONTROLADDR", "127.0.0.1");
    if (host == "0.0.0.0") host = "127.0.0.1";

    std::optional<DaemonView> daemon = askDaemon(host, static_cast<uint16_t>(port));
    std::string db_why;
    std::optional<Charges> charges = askDatabase(cfg, db_why);

    std::string problem;
    if (!daemon) problem = "the daemon does not answer on " + host + ":" + std::to_string(port);
    if (!charges) {
        if (!problem.empty()) problem += "; ";
        problem += "the database does not answer: " + db_why;
    }
    if (prometheus) {
        printPrometheus(daemon, charges);
        if (!problem.empty()) fprintf(stderr, "vornpms_status: %s\n", problem.c_str());
    } else if (!problem.empty()) {
        printf("vornpms_status: %s\n", problem.c_str());
    } else {
        printText(*daemon, *charges);
    }
    if (!daemon) return 2;
    return charges ? 0 : 3;
}

#include "post_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "post_journal";

namespace {

std::string g_path;  // empty: no journal, memory only
std::vector<PMSPostInfo> g_pending;

bool same_charge(const PMSPostInfo& a, const PMSPostInfo& b) {
    return a.type == b.type && a.db_seqno == b.db_seqno;
}

std::string line_of(char op, const PMSPostInfo& r) {
    return strFormat("%c %d %lld %d %.9g %.9g\n", op, static_cast<int>(r.type), static_cast<long long>(r.db_seqno),
                     static_cast<int>(r.ses_seq_no), static_cast<double>(r.posted_amount),
                     static_cast<double>(r.posted_limit));
}

// One whole line of the file; nullopt for anything else.
std::optional<std::pair<char, PMSPostInfo>> parse_line(const std::string& line) {
    char op = 0;
    int type = 0, ses = 0, used = 0;
    long long seq = 0;
    double amount = 0, limit = 0;
    if (std::sscanf(line.c_str(), "%c %d %lld %d %lg %lg%n", &op, &type, &seq, &ses, &amount, &limit, &used) != 6 ||
        static_cast<size_t>(used) != line.size() || (op != '+' && op != '-'))
        return std::nullopt;
    PMSPostInfo r;
    r.type = type;
    r.db_seqno = seq;
    r.ses_seq_no = ses;
    r.posted_amount = static_cast<float>(amount);
    r.posted_limit = static_cast<float>(limit);
    return std::pair{op, r};
}

bool sync_dir(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// Appends `text` and syncs; with `truncate`, the file is emptied first.
bool write_synced(const std::string& text, bool truncate) {
    struct stat st {};
    const bool created = stat(g_path.c_str(), &st) != 0;
    const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0600);
    if (fd < 0) {
        VLOG_ERRNO(0, "post journal %s: open", g_path.c_str());
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool ok = done == text.size() && fsync(fd) == 0;
    if (!ok) VLOG_ERRNO(0, "post journal %s: write", g_path.c_str());
    close(fd);
    // A new file is durable only once its directory entry is.
    return ok && (!created || sync_dir(g_path));
}

}  // namespace

std::string post_journal_default_path(const std::string& lockfile) { return lockfile + ".postjournal"; }

bool post_journal_open(const std::string& path) {
    g_path = path;
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) {
        if (errno == ENOENT) return true;
        VLOG_ERRNO(0, "post journal %s: cannot be read", path.c_str());
        return false;
    }
    std::string text;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);

    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        const std::string line = text.substr(begin, end - begin);
        const auto entry = parse_line(line);
        if (!entry) {
            VLOG_ERROR(0, "post journal %s: line ignored [%s]", path.c_str(), line.c_str());
            continue;
        }
        std::erase_if(g_pending, [&](const PMSPostInfo& p) { return same_charge(p, entry->second); });
        if (entry->first == '+') g_pending.push_back(entry->second);
    }
    for (const PMSPostInfo& r : g_pending)
        VLOG_INFO("post journal: charge seq[%ld] was taken by the PMS before a restart; it will be marked posted, "
                  "not posted again",
                  static_cast<long>(r.db_seqno));
    // Rewrite what is pending: drops finished pairs and any torn last line.
    std::string compact;
    for (const PMSPostInfo& r : g_pending) compact += line_of('+', r);
    if (begin != text.size() || compact != text) write_synced(compact, true);
    return true;
}

bool post_journal_add(const PMSPostInfo& rec) {
    if (!post_journal_holds(rec)) g_pending.push_back(rec);
    if (g_path.empty()) return true;
    if (write_synced(line_of('+', rec), false)) return true;
    VLOG_ERROR(0, "post journal %s: charge seq[%ld] is held in memory only", g_path.c_str(),
               static_cast<long>(rec.db_seqno));
    return false;
}

void post_journal_done(const PMSPostInfo& rec) {
    std::erase_if(g_pending, [&](const PMSPostInfo& p) { return same_charge(p, rec); });
    if (g_path.empty()) return;
    // Emptied when nothing is pending, so the file does not grow.
    if (g_pending.empty()) write_synced("", true);
    else write_synced(line_of('-', rec), false);
}

bool post_journal_holds(const PMSPostInfo& rec) {
    return std::any_of(g_pending.begin(), g_pending.end(), [&](const PMSPostInfo& p) { return same_charge(p, rec); });
}

const std::vector<PMSPostInfo>& post_journal_pending() { return g_pending; }

void post_journal_reset() {
    g_pending.clear();
    g_path.clear();
}

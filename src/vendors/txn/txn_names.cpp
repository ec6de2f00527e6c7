#include "vendors/txn/txn_names.h"

#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "vendors/txn";

TxnName txn_split_name_galavu(const std::string& name, bool last_name_first, const char* prefix) {
    TxnName out;
    if (name.empty()) return out;
    const bool comma = name.find(", ") != std::string::npos;
    const bool blank = !comma && name.find(' ') != std::string::npos;
    if (!comma && !blank) {
        VLOG_DEBUG(2, 0, "%s: unknown format '%s', using as is", prefix, name.c_str());
        out.last = name;
        return out;
    }
    std::vector<std::string> parts = strSplit(name, comma ? ", " : " ");
    std::erase_if(parts, [](const std::string& p) { return p.empty(); });
    if (parts.size() == 2) {
        out.first = last_name_first ? parts[1] : parts[0];
        out.last = last_name_first ? parts[0] : parts[1];
        return out;
    }
    if (parts.empty())
        VLOG_ERROR(0, "%s: split of '%s' failed", prefix, name.c_str());
    else
        VLOG_DEBUG(2, 0, "%s: too many %s in  '%s', using as is", prefix, comma ? "comas" : "spaces", name.c_str());
    out.last = name;
    return out;
}

TxnName txn_split_name_last_first(const std::string& name, const std::string& sep) {
    TxnName out;
    size_t at = name.find(sep);
    if (at == std::string::npos) {
        out.last = name;
        return out;
    }
    out.last = name.substr(0, at);
    std::string rest = name.substr(at + sep.size());
    size_t next = rest.find(sep);
    out.first = next == std::string::npos ? rest : rest.substr(0, next);
    strStripSpaces(out.first);
    strStripSpaces(out.last);
    return out;
}

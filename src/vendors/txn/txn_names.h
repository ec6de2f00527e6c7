// Guest names as the transaction-id PMSs write them in one field.
#pragma once

#include <optional>
#include <string>

struct TxnName {
    std::string first;  // "" when the PMS gave none
    std::string last;
};

// GalaVu: "First Last" or "First, Last" (the parts swapped when
// `last_name_first`); anything else is kept whole as the last name.
TxnName txn_split_name_galavu(const std::string& name, bool last_name_first, const char* prefix);
// Galaxy ", " and HTNG "|": last name, separator, first name; without the
// separator the whole name is the last name.
TxnName txn_split_name_last_first(const std::string& name, const std::string& sep);

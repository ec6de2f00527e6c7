// Statements of the transaction-id vendors (GalaVu, Galaxy, HTNG).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db.h"

// A current guest row the PMS has not named yet.
struct HarvestRoom {
    std::string room, arrival, no_post;
};
// At most `limit` such rows of instance `psi_no`; nullopt on a database failure.
std::optional<std::vector<HarvestRoom>> db_rooms_without_names(int psi_no, int limit);

// Sets the no-post flag of the room's current rows, or of guest `guest_no`
// alone when it is not empty. The rows changed, or -1 on a database failure;
// `stmt` (when given) receives the statement.
long db_pms_guests_set_no_post_of(const std::string& room, const std::string& guest_no, const std::string& no_post,
                                  int psi_no, std::string* stmt = nullptr);

// `text` read by the database as a timestamp, "YYYY-MM-DD HH24:MI:SS" (the
// form the announcements convert); nullopt when the database does not take it.
std::optional<std::string> db_timestamp_text(const std::string& text);

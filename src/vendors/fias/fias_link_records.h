// The link description most FIAS vendors send: the records and fields each
// takes from the PMS. Micros-Fidelio adds its online message and folio
// records; the vendors that differ more keep their own list.
#pragma once

#include <initializer_list>
#include <vector>

#include "vendors/fias/fias_profile.h"

// A function, not a global, so that profiles built at start-up in other
// files never copy it before it exists.
const std::vector<FiasLinkRecord>& fias_base_link_records();

// The base list followed by `more`.
std::vector<FiasLinkRecord> fias_base_link_records_and(std::initializer_list<FiasLinkRecord> more);

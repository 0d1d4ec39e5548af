#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "tcontroller/base/util.h"

namespace tarvo {

// Reads the first `maxItems` release records of a history reply, in reply order.
//
// The reply is read as if every double quote were deleted from it first; the
// rest is cut at commas into items and each item at colons into fields, empty
// pieces dropped in both cases. The first field is the version, the second the
// date; later fields are ignored and nothing is trimmed (line feeds, spaces and
// carriage returns stay in the fields they fall in). An item with fewer than
// two fields is skipped and does not count toward `maxItems`, so every record
// returned has a non-empty version and date.
//
// Single pass, and it stops at the end of the last record it needs: deleting
// quotes never moves a comma or colon across another, so what follows the
// date of the last taken record cannot change any record before it.
std::vector<Util::Histoty> takeHistoryItems(std::string_view reply, std::size_t maxItems = 2);

// Newest first by isNewer on the versions; records with equal keys keep their
// order (stable). Dates play no part.
void sortNewestFirst(std::vector<Util::Histoty>& records);

}  // namespace tarvo

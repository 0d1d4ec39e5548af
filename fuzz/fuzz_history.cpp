// Any history reply: at most two records, each with a non-empty version and
// date free of the reply's separators and quotes; ordering is newest first and
// stable. Also drives versionKey over arbitrary text (UBSan checks the arithmetic).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tcontroller/catalogue/history.h"
#include "tcontroller/catalogue/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    std::vector<tarvo::Util::Histoty> records = tarvo::takeHistoryItems(reply);
    if (records.size() > 2) {
        std::abort();
    }
    for (const auto& r : records) {
        for (const std::string* field : {&r.ver, &r.date}) {
            if (field->empty() || field->find_first_of(",:\"") != std::string::npos) {
                std::abort();
            }
            // Every field is a piece of the reply once quotes are left out.
            if (field->size() > size) {
                std::abort();
            }
        }
    }
    // Fewer items are a prefix of more items.
    const std::vector<tarvo::Util::Histoty> one = tarvo::takeHistoryItems(reply, 1);
    if (one.size() != std::min<std::size_t>(records.size(), 1) ||
        (!one.empty() && !(one[0] == records[0]))) {
        std::abort();
    }

    const std::vector<tarvo::Util::Histoty> taken = records;
    tarvo::sortNewestFirst(records);
    if (records.size() == 2) {
        const bool swapped = !(records[0] == taken[0]);
        if (swapped != tarvo::isNewer(taken[1].ver, taken[0].ver)) {
            std::abort();
        }
        if (tarvo::isNewer(records[1].ver, records[0].ver)) {
            std::abort();
        }
    }

    // The key is defined for any text; comparing a text with itself is never newer.
    if (tarvo::isNewer(reply, reply)) {
        std::abort();
    }
    (void)tarvo::versionKey(reply);
    return 0;
}

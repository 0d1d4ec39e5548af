#include "tcontroller/catalogue/history.h"

#include <algorithm>
#include <string>

#include "tcontroller/catalogue/version.h"

namespace tarvo {
namespace {

constexpr char kQuote = '"';
constexpr char kItemSeparator = ',';
constexpr char kFieldSeparator = ':';

bool isSpecial(char c) {
    return c == kQuote || c == kItemSeparator || c == kFieldSeparator;
}

}  // namespace

std::vector<Util::Histoty> takeHistoryItems(std::string_view reply, std::size_t maxItems) {
    std::vector<Util::Histoty> records;
    const std::size_t n = reply.size();
    std::size_t pos = 0;

    while (records.size() < maxItems && pos < n) {
        // One item: from pos up to the next comma (or the end of the reply).
        // Its fields are gathered with their quotes left out; `fields` counts
        // the non-empty ones found so far, of which only the first two are kept.
        Util::Histoty record;
        std::string* const slots[2] = {&record.ver, &record.date};
        std::size_t fields = 0;
        std::string current;
        bool itemDone = false;

        const auto closeField = [&] {
            if (!current.empty()) {
                *slots[fields++] = std::move(current);
                current.clear();
            }
        };

        while (pos < n && fields < 2) {
            // Copy the run of ordinary characters in one go.
            std::size_t runEnd = pos;
            while (runEnd < n && !isSpecial(reply[runEnd])) {
                ++runEnd;
            }
            current.append(reply.data() + pos, runEnd - pos);
            pos = runEnd;
            if (pos == n) {
                break;
            }
            const char c = reply[pos++];
            if (c == kFieldSeparator) {
                closeField();
            } else if (c == kItemSeparator) {
                itemDone = true;
                break;
            }
            // A quote is simply left out.
        }
        closeField();

        if (fields == 2) {
            records.push_back(std::move(record));
            if (records.size() == maxItems) {
                break;  // the rest of the reply cannot change what was taken
            }
            if (!itemDone) {
                // Skip the ignored fields up to the end of this item.
                const std::size_t comma = reply.find(kItemSeparator, pos);
                pos = comma == std::string_view::npos ? n : comma + 1;
            }
        }
        // An item with fewer than two fields is dropped without counting.
    }
    return records;
}

void sortNewestFirst(std::vector<Util::Histoty>& records) {
    std::stable_sort(
        records.begin(), records.end(),
        [](const Util::Histoty& x, const Util::Histoty& y) { return isNewer(x.ver, y.ver); });
}

}  // namespace tarvo

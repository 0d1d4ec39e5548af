#include "tcontroller/catalogue/history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo {
namespace {

using Records = std::vector<Util::Histoty>;

// The records kept of a reply (two by default), newest first. Nothing is
// trimmed, so whitespace and line feeds stay in the fields and can make a
// version piece a non-integer.
TEST(HistoryReply, TakesTheFirstTwoItemsAndOrdersThemNewestFirst) {
    const std::pair<std::string, Records> cases[] = {
        {"1.1:a,1.0:b,9.9:c", {{"1.1", "a"}, {"1.0", "b"}}},
        {" 1.1 : d \r\n,2.0\t:\te", {{"2.0\t", "\te"}, {" 1.1 ", " d \r\n"}}},
    };
    for (const auto& [reply, sorted] : cases) {
        Records records = takeHistoryItems(reply);
        sortNewestFirst(records);
        EXPECT_EQ(records, sorted) << reply;
    }
    // The sort is stable: equal keys keep the reply's order.
    Records records = takeHistoryItems("1.0:a,2.0:b,1.0.0:c,2:d,x:e", 5);
    sortNewestFirst(records);
    EXPECT_EQ(records,
              (Records{{"2.0", "b"}, {"2", "d"}, {"1.0", "a"}, {"1.0.0", "c"}, {"x", "e"}}));
}

// Reads the reply the long way round (delete every quote, split, split) to
// check the single-pass reader against, for any item limit.
std::vector<std::string> splitDroppingEmpty(const std::string& s, char sep) {
    std::vector<std::string> pieces(1);
    for (char c : s) {
        if (c != sep) {
            pieces.back().push_back(c);
        } else if (!pieces.back().empty()) {
            pieces.emplace_back();
        }
    }
    if (pieces.back().empty()) {
        pieces.pop_back();
    }
    return pieces;
}

Records referenceItems(std::string reply, std::size_t maxItems) {
    std::erase(reply, '"');
    Records out;
    for (const std::string& item : splitDroppingEmpty(reply, ',')) {
        const auto fields = splitDroppingEmpty(item, ':');
        if (out.size() < maxItems && fields.size() >= 2) {
            out.push_back({fields[0], fields[1]});
        }
    }
    return out;
}

TEST(HistoryReply, MatchesQuoteDeletingReferenceOnMixedReplies) {
    // Every reply over a small alphabet up to length 7, so quotes, colons and
    // commas land in every position relative to each other.
    const std::string alphabet = "1\":,x";
    std::vector<std::string> replies{""};
    for (int len = 1; len <= 7; ++len) {
        std::vector<std::string> longer;
        for (const std::string& r : replies) {
            for (char c : alphabet)
                longer.push_back(r + c);
        }
        replies = std::move(longer);
        for (const std::string& r : replies) {
            for (std::size_t max : {0u, 1u, 2u, 3u}) {
                ASSERT_EQ(takeHistoryItems(r, max), referenceItems(r, max))
                    << "reply: " << r << " max: " << max;
            }
        }
    }
}

}  // namespace
}  // namespace tarvo

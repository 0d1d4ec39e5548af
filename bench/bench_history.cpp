// Cost of reading a history reply as it grows: the reader takes two records and
// stops, so what matters is how far it must scan and how much it must copy.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "tcontroller/catalogue/history.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Releases separated by commas: the reader stops after the second one.
std::string manySmallItems(std::size_t size) {
    std::string s;
    s.reserve(size + 32);
    while (s.size() < size) {
        s += "\"1.3:2020-01-15\",";
    }
    return s;
}

// Items without a date (skipped, never counted) until the last two: a full scan.
std::string malformedThenTwo(std::size_t size) {
    std::string s;
    s.reserve(size + 32);
    while (s.size() < size) {
        s += "1.0,";
    }
    s += "1.3:2020-01-15,1.2:2019-10-22";
    return s;
}

// One release whose date is the whole reply: a full scan and a full copy.
std::string oneHugeItem(std::size_t size) {
    std::string s = "1.3:";
    s.append(size, 'd');
    return s;
}

// One huge item with a quote after every character: half the bytes are dropped.
std::string quotesEverywhere(std::size_t size) {
    std::string s = "\"1\".\"3\":";
    s.reserve(size + 16);
    while (s.size() < size) {
        s += "d\"";
    }
    return s;
}

template <std::string (*Make)(std::size_t)>
void BM_TakeHistoryItems(benchmark::State& state) {
    const std::string reply = Make(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto records = tarvo::takeHistoryItems(reply);
        tarvo::sortNewestFirst(records);
        benchmark::DoNotOptimize(records);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(reply.size()));
}

#define HISTORY_SIZES                   \
    Arg(1 * kMiB)                       \
        ->Arg(4 * kMiB)                 \
        ->Arg(16 * kMiB)                \
        ->Arg(64 * kMiB)                \
        ->Unit(benchmark::kMicrosecond) \
        ->MinTime(0.3)

BENCHMARK_TEMPLATE(BM_TakeHistoryItems, manySmallItems)->HISTORY_SIZES;
BENCHMARK_TEMPLATE(BM_TakeHistoryItems, malformedThenTwo)->HISTORY_SIZES;
BENCHMARK_TEMPLATE(BM_TakeHistoryItems, oneHugeItem)->HISTORY_SIZES;
BENCHMARK_TEMPLATE(BM_TakeHistoryItems, quotesEverywhere)->HISTORY_SIZES;

}  // namespace

BENCHMARK_MAIN();

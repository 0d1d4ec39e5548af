// Cost of building and sending one 54-byte image data frame to a device that
// accepts every write at once. One full-speed USB interrupt report takes 1 ms,
// so this is the host-side overhead per report of the image transfer.
#include <benchmark/benchmark.h>
#include <QApplication>
#include <cstdio>
#include <iostream>

#include "sim/clocks.h"
#include "tcontroller/device/commands.h"
#include "tcontroller/view_controller.h"

namespace {

class AcceptingDevice : public tarvo::HIDDevice {
  public:
    int setReport(int, std::uint8_t, const std::uint8_t* bytes, std::size_t length) override {
        benchmark::DoNotOptimize(bytes);
        benchmark::DoNotOptimize(length);
        return tarvo::kHIDReturnSuccess;
    }
    std::string name() const override { return "accepting"; }
};

const tarvo::Bytes kChunk(54, 0x5A);

// The frame alone: builder plus the platform write.
void BM_BuildAndWriteFrame(benchmark::State& state) {
    AcceptingDevice device;
    for (auto _ : state) {
        auto frame = tarvo::Commands::imageDataFrame(kChunk.data(), kChunk.size());
        device.setReport(tarvo::kHIDReportTypeOutput, (*frame)[2], frame->data(), frame->size());
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_BuildAndWriteFrame);

// The tool's whole path: builder, sendReport (device lookup, timing, the
// "write spend" log line to standard output, here /dev/null).
void BM_SendReport(benchmark::State& state) {
    tarvo::sim::InstantClock clock;
    tarvo::Platform platform;
    platform.clock = &clock;
    tarvo::ViewController vc(platform);
    vc.hidDeviceInfo.set(std::make_shared<AcceptingDevice>());
    for (auto _ : state) {
        auto frame = tarvo::Commands::imageDataFrame(kChunk.data(), kChunk.size());
        benchmark::DoNotOptimize(vc.sendReport(*frame, false));
    }
}
BENCHMARK(BM_SendReport);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The benchmark's report goes to standard error; the tool's log lines to /dev/null.
    benchmark::Initialize(&argc, argv);
    std::FILE* devnull = std::freopen("/dev/null", "w", stdout);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return devnull != nullptr ? 0 : 1;
}

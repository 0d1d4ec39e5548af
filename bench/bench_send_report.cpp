// Cost of building and sending one 54-byte image data frame to a device that
// does what the hidraw writer does: the report number in front of a copy of
// the frame, one write() (to /dev/null). One full-speed USB interrupt report
// takes 1 ms, so this is the host-side cost per report of the image transfer.
// scripts/bench measures the same against a bare write() (bench_transfer).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tcontroller/base/clock.h"
#include "tcontroller/device/commands.h"
#include "tcontroller/update/update_engine.h"

namespace {

class AcceptingDevice : public tarvo::HIDDevice {
  public:
    AcceptingDevice() : fd_(::open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
    ~AcceptingDevice() override { ::close(fd_); }
    tarvo::Result<void> setReport(int, std::uint8_t, const std::uint8_t* bytes,
                                  std::size_t length) override {
        std::uint8_t report[512];
        report[0] = 0;
        std::memcpy(report + 1, bytes, length);
        return ::write(fd_, report, length + 1) == static_cast<ssize_t>(length + 1)
                   ? tarvo::Result<void>::success()
                   : tarvo::Result<void>::failure(tarvo::errnoText(errno));
    }
    std::string name() const override { return "accepting"; }

  private:
    int fd_;
};

const tarvo::Bytes kChunk(54, 0x5A);

// The frame alone: builder plus the platform write.
void BM_BuildAndWriteFrame(benchmark::State& state) {
    AcceptingDevice device;
    tarvo::Bytes frame;
    for (auto _ : state) {
        tarvo::Commands::buildImageDataFrame(kChunk.data(), kChunk.size(), frame);
        device.setReport(tarvo::kHIDReportTypeOutput, frame[2], frame.data(), frame.size());
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_BuildAndWriteFrame);

// The tool's whole path: builder, sendReport (device lookup, timing, the
// "write spend" log line to standard output, here /dev/null). The device is
// attached as the monitor reports it (the model request it is sent goes to
// /dev/null too, and no answer comes).
void BM_SendReport(benchmark::State& state) {
    tarvo::SystemClock clock;
    tarvo::Platform platform;
    platform.clock = &clock;
    tarvo::UpdateEngine engine(platform);
    engine.hidConnectedWithNotification(std::make_shared<AcceptingDevice>());
    tarvo::Bytes frame;
    for (auto _ : state) {
        tarvo::Commands::buildImageDataFrame(kChunk.data(), kChunk.size(), frame);
        benchmark::DoNotOptimize(engine.sendReport(frame, false));
    }
}
BENCHMARK(BM_SendReport);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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

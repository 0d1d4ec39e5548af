// Measurements of the image transfer for scripts/bench, printed as
// "key value" lines on standard error (standard output carries the tool's log,
// or a slow pipe when asked for):
//
//   bench_transfer frame          per-frame host cost of sendReport against a bare write()
//   bench_transfer update MODE    one update through the engine (its window on screen) and
//                                 the virtual controller:
//                                 MODE paced (real clock, 1 ms per report), gui (16 MiB,
//                                 unpaced, fast clock) or slow-reader (1 MiB, paced, fast
//                                 clock; run once with standard output on /dev/null, once
//                                 on a pipe read at 25 KB/s)
//   bench_transfer startup        wall-clock time at the first paint of the window
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "sim/clocks.h"
#include "sim/simulated_platform.h"
#include "tcontroller/app_delegate.h"
#include "tcontroller/base/log.h"
#include "tcontroller/base/ticks.h"
#include "tcontroller/device/commands.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/ui/view_controller.h"
#include "tcontroller/update/update_engine.h"

// ---- A counting allocator: every operator new counts, and the live heap is
// tracked by the sizes malloc hands out.
namespace {
std::atomic<std::uint64_t> gAllocations{0};
std::atomic<std::int64_t> gLiveBytes{0};

void* counted(std::size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gLiveBytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p)),
                         std::memory_order_relaxed);
    return p;
}
void uncounted(void* p) noexcept {
    if (p != nullptr) {
        gLiveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)),
                             std::memory_order_relaxed);
        std::free(p);
    }
}
}  // namespace

void* operator new(std::size_t n) {
    return counted(n);
}
void* operator new[](std::size_t n) {
    return counted(n);
}
void operator delete(void* p) noexcept {
    uncounted(p);
}
void operator delete[](void* p) noexcept {
    uncounted(p);
}
void operator delete(void* p, std::size_t) noexcept {
    uncounted(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    uncounted(p);
}

namespace {

using namespace tarvo;
using Steady = std::chrono::steady_clock;

volatile double benchmarkSink = 0;

double secondsSince(Steady::time_point start) {
    return std::chrono::duration<double>(Steady::now() - start).count();
}

void say(const char* key, double value) {
    std::fprintf(stderr, "%s %.9g\n", key, value);
}

// A device that does what the hidraw writer does: the report number in front
// of a copy of the frame, then one write() of it.
class CopyWriteDevice : public HIDDevice {
  public:
    explicit CopyWriteDevice(int fd) : fd_(fd) {}
    Result<void> setReport(int, std::uint8_t, const std::uint8_t* bytes,
                           std::size_t length) override {
        std::uint8_t report[512];
        report[0] = 0;
        std::memcpy(report + 1, bytes, length);
        return ::write(fd_, report, length + 1) == static_cast<ssize_t>(length + 1)
                   ? Result<void>::success()
                   : Result<void>::failure(errnoText(errno));
    }
    std::string name() const override { return "copy-write"; }

  private:
    int fd_;
};

// The system clock whose sleeps return at once: the frames are timed for real.
class RealTimeNoSleepClock : public Clock {
  public:
    double now() override { return system_.now(); }
    void sleep(double) override {}

  private:
    SystemClock system_;
};

int benchFrame() {
    constexpr std::size_t kFrames = 200000;
    constexpr int kRounds = 5;
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    // The log goes to /dev/null too: its writer thread does the same work as
    // for a terminal that keeps up.
    ::dup2(devNull, STDOUT_FILENO);
    std::uint8_t bare[65] = {};
    const auto bareWrites = [&] {
        double best = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            const auto start = Steady::now();
            for (std::size_t i = 0; i < kFrames; ++i) {
                bare[1] = static_cast<std::uint8_t>(i);
                if (::write(devNull, bare, sizeof bare) != static_cast<ssize_t>(sizeof bare)) {
                    return 1e9;
                }
            }
            best = std::min(best, secondsSince(start) / kFrames);
        }
        return best;
    };
    // glibc's write() skips its thread-cancellation bookkeeping while a process
    // has only ever had one thread. The tool never is such a process (its log
    // alone runs threads), so the bare write it is compared with is timed once
    // a second thread has run; the single-threaded figure is reported beside it.
    const double bareSingle = bareWrites();
    std::thread([] {}).join();
    const double bareBest = bareWrites();

    RealTimeNoSleepClock clock;
    Platform platform;
    platform.clock = &clock;
    // The device attached as the monitor reports it; the model request it is
    // sent first is not counted, and no answer comes.
    UpdateEngine engine(platform);
    engine.hidConnectedWithNotification(std::make_shared<CopyWriteDevice>(devNull));
    const Bytes image(kFrames * frame::kChunkSize, 0x5A);
    Bytes frame;
    double frameBest = 1e9;
    double allocationsPerFrame = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const std::uint64_t allocationsBefore = gAllocations.load();
        const auto start = Steady::now();
        for (std::size_t i = 0; i < kFrames; ++i) {
            if (!Commands::buildImageDataFrame(image.data() + i * frame::kChunkSize,
                                               frame::kChunkSize, frame) ||
                !engine.sendReport(frame, false)) {
                return 1;
            }
        }
        frameBest = std::min(frameBest, secondsSince(start) / kFrames);
        allocationsPerFrame =
            std::min(allocationsPerFrame,
                     static_cast<double>(gAllocations.load() - allocationsBefore) / kFrames);
        flushLog(10);
    }
    // Where the time goes: the same loop built up step by step, the device
    // called directly, then the two counter readings of "write spend", then
    // the line's record in the log's queue.
    const auto device = std::make_shared<CopyWriteDevice>(devNull);
    const auto part = [&](const char* name, const auto& step) {
        double best = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            const auto start = Steady::now();
            for (std::size_t i = 0; i < kFrames; ++i) {
                step(image.data() + i * frame::kChunkSize);
            }
            best = std::min(best, secondsSince(start) / kFrames);
        }
        flushLog(10);
        say(name, best * 1e9);
    };
    part("part_build_ns", [&](const std::uint8_t* chunk) {
        Commands::buildImageDataFrame(chunk, frame::kChunkSize, frame);
    });
    part("part_build_device_ns", [&](const std::uint8_t* chunk) {
        Commands::buildImageDataFrame(chunk, frame::kChunkSize, frame);
        device->setReport(kHIDReportTypeOutput, frame[2], frame.data(), frame.size());
    });
    part("part_build_device_clock_ns", [&](const std::uint8_t* chunk) {
        const std::uint64_t start = ticks::now();
        Commands::buildImageDataFrame(chunk, frame::kChunkSize, frame);
        device->setReport(kHIDReportTypeOutput, frame[2], frame.data(), frame.size());
        benchmarkSink = static_cast<double>(ticks::now() - start);
    });
    part("part_build_device_clock_log_ns", [&](const std::uint8_t* chunk) {
        const std::uint64_t start = ticks::now();
        Commands::buildImageDataFrame(chunk, frame::kChunkSize, frame);
        const Result<void> written =
            device->setReport(kHIDReportTypeOutput, frame[2], frame.data(), frame.size());
        logWrite(start, ticks::now(), writeCode(written));
    });
    say("bare_write_ns", bareBest * 1e9);
    say("bare_write_single_thread_ns", bareSingle * 1e9);
    say("frame_ns", frameBest * 1e9);
    say("frame_ratio", frameBest / bareBest);
    say("allocations_per_frame", allocationsPerFrame);
    return 0;
}

// Reads the pipe at 25 KB/s: 250 bytes every 10 ms.
void slowReader(int fd) {
    char buffer[250];
    for (;;) {
        if (::read(fd, buffer, sizeof buffer) <= 0) {
            return;
        }
        ::usleep(10000);
    }
}

int benchUpdate(const std::string& mode) {
    const bool paced = mode == "paced" || mode == "slow-reader" || mode == "quiet-reader";
    std::size_t imageSize = std::size_t{300} * 1024;
    if (mode == "gui") {
        imageSize = std::size_t{16} << 20;
    } else if (mode == "slow-reader" || mode == "quiet-reader") {
        imageSize = std::size_t{1} << 20;
    }
    int pipeFds[2] = {-1, -1};
    std::thread reader;
    if (mode == "slow-reader") {
        if (::pipe(pipeFds) != 0) {
            return 1;
        }
        ::dup2(pipeFds[1], STDOUT_FILENO);
        reader = std::thread(slowReader, pipeFds[0]);
        reader.detach();
    } else {
        ::dup2(::open("/dev/null", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
    }

    sim::SimulatedPlatform::Options options;
    options.clock = mode == "paced" ? sim::SimulatedPlatform::ClockKind::system
                                    : sim::SimulatedPlatform::ClockKind::fast;
    options.server.imageSize = imageSize;
    sim::SimulatedPlatform sim(options);
    sim.server().publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt}});
    sim.controller().updateConfig(
        [paced](sim::VirtualController::Config& config) { config.pacing = paced; });
    sim.controller().plug();

    // The moments the transfer thread logs, seen through the tap.
    std::atomic<double> erased{0}, begun{0}, ended{0};
    std::atomic<std::int64_t> heapAtPress{0}, heapAtErase{0};
    const auto t0 = Steady::now();
    setLogTap([&](const std::string& line) {
        if (line == "erasing data...") {
            heapAtErase.store(gLiveBytes.load());
            erased.store(secondsSince(t0));
        } else if (line == "begin image update") {
            begun.store(secondsSince(t0));
        } else if (line == "end image update") {
            ended.store(secondsSince(t0));
        }
    });

    // The window is on screen as in the tool (its bar and redraws load the GUI
    // thread that is measured); the update is driven through its engine.
    auto window = AppDelegate::makeMainWindow(sim.platform());
    UpdateEngine& engine = window->engine();
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progress"));
    if (bar == nullptr) {
        std::fprintf(stderr, "bench_transfer: the window has no progress bar\n");
        return 1;
    }
    int progressUpdates = 0;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int) {
        if (begun.load() > 0 && ended.load() == 0) {
            ++progressUpdates;
        }
    });
    // The GUI thread's 1 ms timer: the longest gap between two of its ticks
    // while the image is sent.
    double lastTick = 0;
    double longestGap = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = secondsSince(t0);
        if (begun.load() > 0 && ended.load() == 0 && lastTick > 0) {
            longestGap = std::max(longestGap, now - lastTick);
        }
        lastTick = now;
    });
    probe.start();

    int step = 0;
    QTimer driver;
    driver.setInterval(5);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        using UpMode = Util::UpMode;
        using UpSta = Util::UpSta;
        const UpdateSnapshot now = engine.snapshot();
        const bool idle = now.identified && !engine.awaitingHistory() && !now.downloading &&
                          now.sta == UpSta::none;
        if (step == 0 && idle && now.mode == UpMode::none) {
            engine.updateToNewest();  // UPDATE TO NEWEST: downloads the release
            step = 1;
        } else if (step == 1 && idle && now.mode != UpMode::none && now.filesHeld) {
            heapAtPress.store(gLiveBytes.load());
            engine.confirm();  // OK: erase and send
            step = 2;
        } else if (step == 2 && ended.load() > 0) {
            QApplication::exit(0);
        } else if (now.sta == UpSta::failed || secondsSince(t0) > 900) {
            std::fprintf(stderr, "bench_transfer: the update failed or took too long\n");
            QApplication::exit(1);
        }
    });
    driver.start();
    const int status = QApplication::exec();
    setLogTap({});
    if (status != 0) {
        std::_Exit(status);
    }
    const std::size_t frames = imageSize / frame::kChunkSize;
    say("image_bytes", static_cast<double>(imageSize));
    say("data_frames", static_cast<double>(frames));
    say("erase_to_end_s", ended.load() - erased.load());
    say("data_phase_s", ended.load() - begun.load());
    say("longest_gui_gap_ms", longestGap * 1e3);
    say("progress_updates", progressUpdates);
    say("progress_updates_per_s", progressUpdates / std::max(1e-9, ended.load() - begun.load()));
    say("heap_added_at_transfer_start_bytes",
        static_cast<double>(heapAtErase.load() - heapAtPress.load()));
    // The rest of the update is not measured. The process ends here, with the
    // slow reader still reading and the window still open.
    std::_Exit(0);
}

int benchStartup() {
    ::dup2(::open("/dev/null", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
    sim::SimulatedPlatform sim;
    sim.controller().plug();
    auto window = AppDelegate::makeMainWindow(sim.platform());
    // The first paint of any part of the window: where its children cover it
    // whole, the window itself is never sent a paint event.
    struct FirstPaint : QObject {
        QWidget* window = nullptr;
        bool eventFilter(QObject* object, QEvent* event) override {
            auto* widget = qobject_cast<QWidget*>(object);
            if (event->type() == QEvent::Paint && widget != nullptr && widget->window() == window) {
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                std::fprintf(stderr, "first_paint_epoch %.6f\n",
                             static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9);
                std::_Exit(0);
            }
            return false;
        }
    } filter;
    filter.window = window.get();
    QApplication::instance()->installEventFilter(&filter);
    window->update();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "frame") {
        return benchFrame();
    }
    if (what == "update" && argc > 2) {
        return benchUpdate(argv[2]);
    }
    if (what == "startup") {
        return benchStartup();
    }
    std::fprintf(stderr,
                 "usage: bench_transfer frame | update paced|gui|slow-reader|quiet-reader "
                 "| startup\n");
    return 64;
}

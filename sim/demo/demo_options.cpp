#include "sim/demo/demo_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <utility>

#include "sim/firmware_format.h"

namespace tarvo::demo {
namespace {

// The demo's options, in the order --help lists them. A help text's later
// lines continue the first, under it.
struct OptionSpec {
    const char* name;
    const char* valueName;  // empty: the option takes no value
    const char* help;
};

constexpr OptionSpec kOptions[] = {
    {"auto", "",
     "press through one update and exit: 0 installed and\n"
     "verified, 1 failed or not verified, 2 timed out,\n"
     "3 nothing to install (no update offered, or the\n"
     "controller refused: another model, no answer)"},
    {"fast", "",
     "the tool's waits (35 s erase, pauses) run a hundred\n"
     "times faster; its 10 s watchdog takes 2 s"},
    {"controller-fw", "V", "firmware the controller runs (default 1.1)"},
    {"controller-model", "C", "model code the controller reports (default T)"},
    {"bootloader", "", "the controller starts as its mounted bootloader volume"},
    {"publish", "V:DATE,...",
     "releases on the server (default\n"
     "1.3:2020-01-15,1.2:2019-10-22)"},
    {"history-file", "FILE",
     "serve FILE verbatim as the version history; files of\n"
     "any version asked for are generated"},
    {"offline", "", "no network: the built-in release is offered"},
    {"server-fault", "F",
     "none|refuse|404|500|truncate|stall, switched on once\n"
     "the version history has arrived, so the release\n"
     "download is what fails"},
    {"history-delay", "SECONDS",
     "the server answers the version history this late\n"
     "(a decimal; not scaled by --fast); --auto presses\n"
     "UPDATE TO NEWEST without waiting for it"},
    {"device-fault", "[K:]F",
     "what the controller does wrong:\n"
     "none, unplug-in-erase, replug-in-erase,\n"
     "unplug-in-data, lose-final-step, volume-full,\n"
     "unmount-before-write, keep-old-version, no-answer;\n"
     "F alone: every controller, K:F: controller K only\n"
     "(may be given several times)"},
    {"controllers", "N",
     "N controllers plugged in (1 to 8, default 1), controller\n"
     "K on USB port 1-1.K with its volume \"CRP DISABLE\",\n"
     "\"CRP DISABLE1\", ...; not with --auto"},
    {"plug-interval", "SECONDS",
     "plug the controllers in one after another, this many\n"
     "seconds apart (a decimal; not scaled by --fast;\n"
     "default 0: all at the start)"},
    {"screenshots", "DIR",
     "a PNG of the window at each step: 01-idle, 02-confirm,\n"
     "03-erasing, 04-sending-image, 05-alert (if shown),\n"
     "06-update-complete, 07-done, 08-failed (if failed),\n"
     "09-download-failed (if the download failed);\n"
     "earlier NN-*.png files in DIR are removed first"},
    {"timeout", "SECONDS", "give up after this long with --auto (default 600)"},
    {"image-size", "BYTES",
     "the size of every release's image file on the server\n"
     "(default 307200); below 20 bytes, a run of 0xA5 bytes"},
    {"unpaced", "", "the controller takes reports as fast as they come"},
    {"restart-after", "STEP",
     "image|final-step: with --auto, close the tool once the\n"
     "image was sent (or the final step), then start it\n"
     "again on the same controller and state folder"},
    {"choose", "CHOICE",
     "VERSION | files:FILE,FILE: with --auto, press UPDATE\n"
     "TO PREVIOUS and pick that release in the chooser, or\n"
     "pick the two files (10-files-refused if they are not\n"
     "taken)"},
    {"station-view", "",
     "the station's view of every controller instead of the\n"
     "window; with --screenshots it updates them all by itself\n"
     "(11-station-idle, 12-station-updating, 13-station-done)"},
    {"lookalike-drive", "",
     "a USB stick also labelled \"CRP DISABLE\", holding a\n"
     "file of its owner, is mounted before the controller's\n"
     "drive; the tool must leave it alone"},
    {"report", "FILE",
     "at the end write what the controller holds to FILE, one\n"
     "key=value per line (exit, controller_reports, firmware,\n"
     "image, image_complete, violations, lookalike_drive;\n"
     "of controller K >= 2 the same keys as controllerK_...)"},
    {"help", "", "this text"},
};

// Where the help texts start in --help.
constexpr std::size_t kHelpColumn = 28;

std::string usageText() {
    std::string text =
        "usage: tarvo-remote-demo [options]\n"
        "       tarvo-remote-demo status|releases|update [command options] [options]\n"
        "\n"
        "Runs the Tarvo Remote firmware update tool against a simulated controller,\n"
        "a firmware server on 127.0.0.1 and a bootloader volume in a private folder.\n"
        "Standard output carries the tool's own log; the simulator writes to\n"
        "standard error. With a command the tool's command line runs instead of\n"
        "the window (tarvo-remote-update --help lists the commands and their\n"
        "options), e.g. tarvo-remote-demo update --yes --json --fast.\n"
        "\n";
    const std::string indent(kHelpColumn, ' ');
    for (const OptionSpec& option : kOptions) {
        std::string line = std::string("  --") + option.name;
        if (*option.valueName != '\0') {
            line += std::string(" ") + option.valueName;
        }
        line.resize(std::max(line.size() + 1, kHelpColumn), ' ');
        for (const char* at = option.help; *at != '\0'; ++at) {
            line += *at;
            if (*at == '\n') {
                line += indent;
            }
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace

const char* demoUsage() {
    static const std::string usage = usageText();
    return usage.c_str();
}

std::optional<sim::ServerFault> parseServerFault(const std::string& name) {
    using sim::ServerFault;
    if (name == "none") {
        return ServerFault::none;
    }
    if (name == "refuse") {
        return ServerFault::refuse;
    }
    if (name == "404") {
        return ServerFault::status404;
    }
    if (name == "500") {
        return ServerFault::status500;
    }
    if (name == "truncate") {
        return ServerFault::truncate;
    }
    if (name == "stall") {
        return ServerFault::stall;
    }
    return std::nullopt;
}

namespace {

struct DeviceFaultInfo {
    sim::DeviceFault fault;
    const char* name;
    const char* effect;
};

static_assert(sim::VirtualController::kFaultDataFrame == 1000, "unplug-in-data's effect text");
constexpr DeviceFaultInfo kDeviceFaults[] = {
    {sim::DeviceFault::none, "none", "none"},
    {sim::DeviceFault::unplugInErase, "unplug-in-erase",
     "the controller leaves the bus when it takes the erase command"},
    {sim::DeviceFault::replugInErase, "replug-in-erase",
     "the controller leaves the bus when it takes the erase command and is back a few ms later"},
    {sim::DeviceFault::unplugInData, "unplug-in-data",
     "the controller leaves the bus at data frame 1000 of the image"},
    {sim::DeviceFault::loseFinalStep, "lose-final-step",
     "after the final step the bootloader volume appears only after a replug and another "
     "final step"},
    {sim::DeviceFault::volumeFull, "volume-full", "FW.bin does not fit on the bootloader volume"},
    {sim::DeviceFault::unmountBeforeWrite, "unmount-before-write",
     "the bootloader volume goes away right after it appeared"},
    {sim::DeviceFault::keepOldVersion, "keep-old-version",
     "the controller flashes FW.bin but goes on reporting its old version"},
    {sim::DeviceFault::noAnswer, "no-answer", "the controller never answers identification"},
};

const DeviceFaultInfo& infoOf(sim::DeviceFault fault) {
    for (const auto& info : kDeviceFaults) {
        if (info.fault == fault) {
            return info;
        }
    }
    return kDeviceFaults[0];
}

}  // namespace

std::optional<sim::DeviceFault> parseDeviceFault(const std::string& name) {
    for (const auto& info : kDeviceFaults) {
        if (name == info.name) {
            return info.fault;
        }
    }
    return std::nullopt;
}

const char* deviceFaultName(sim::DeviceFault fault) {
    return infoOf(fault).name;
}

const char* deviceFaultEffect(sim::DeviceFault fault) {
    return infoOf(fault).effect;
}

std::optional<std::vector<sim::PublishedRelease>> parseReleases(const std::string& text) {
    std::vector<sim::PublishedRelease> releases;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(at, end - at);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == item.size()) {
            return std::nullopt;
        }
        const std::string ver = item.substr(0, colon);
        if (sim::versionCharsFor(ver).empty()) {
            return std::nullopt;
        }
        releases.push_back({ver, item.substr(colon + 1), std::nullopt, std::nullopt});
        at = end + 1;
    }
    return releases;
}

namespace {

bool parsePositive(const std::string& text, int* out) {
    int value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || value <= 0) {
        return false;
    }
    *out = value;
    return true;
}

// A decimal number of seconds from 0 to an hour.
bool parseSeconds(const std::string& text, double* out) {
    double value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (text.empty() || ec != std::errc() || ptr != last || !(value >= 0 && value <= 3600)) {
        return false;
    }
    *out = value;
    return true;
}

// One --device-fault value, "F" or "K:F", taken into `options` (whose
// controllers are known already); a message when it is wrong.
std::string takeDeviceFault(const std::string& value, DemoOptions* options) {
    const std::size_t colon = value.find(':');
    const std::string name = colon == std::string::npos ? value : value.substr(colon + 1);
    const auto fault = parseDeviceFault(name);
    if (!fault) {
        return "--device-fault needs one of none, unplug-in-erase, replug-in-erase, "
               "unplug-in-data, lose-final-step, volume-full, unmount-before-write, "
               "keep-old-version, no-answer, alone or after a controller number and a colon "
               "(2:no-answer)";
    }
    if (colon == std::string::npos) {
        options->deviceFault = *fault;
        return {};
    }
    int controller = 0;
    if (!parsePositive(value.substr(0, colon), &controller) || controller > options->controllers) {
        return "--device-fault " + value + ": no controller " + value.substr(0, colon) +
               " (there " +
               (options->controllers == 1 ? "is 1"
                                          : "are " + std::to_string(options->controllers)) +
               "; see --controllers)";
    }
    options->controllerFaults[controller] = *fault;
    return {};
}

// --controllers, --device-fault (every value given, in order) and
// --plug-interval: how many controllers, what each does wrong and when each
// is plugged in; a message when one is wrong.
std::string takeControllerOptions(const std::function<bool(const char*, std::string*)>& given,
                                  const QStringList& faults, DemoOptions* options) {
    std::string text;
    if (given("controllers", &text) &&
        (!parsePositive(text, &options->controllers) || options->controllers > kMaxControllers)) {
        return "--controllers needs a number of controllers from 1 to " +
               std::to_string(kMaxControllers);
    }
    if (options->autoRun && options->controllers > 1) {
        return "--auto drives the window with one controller: leave out --controllers, or use a "
               "command (status, update)";
    }
    for (const QString& value : faults) {
        if (std::string message = takeDeviceFault(value.toLocal8Bit().toStdString(), options);
            !message.empty()) {
            return message;
        }
    }
    if (given("plug-interval", &text) && !parseSeconds(text, &options->plugIntervalSeconds)) {
        return "--plug-interval needs a number of seconds from 0 to 3600, such as 0.5";
    }
    return {};
}

// --timeout, --image-size and --report: how long a run may take, how large its
// image is and where it reports; a message when one is wrong.
std::string takeRunOptions(const std::function<bool(const char*, std::string*)>& given,
                           DemoOptions* options) {
    std::string text;
    if (given("timeout", &text) && !parsePositive(text, &options->timeoutSeconds)) {
        return "--timeout needs a whole number of seconds above 0";
    }
    if (given("image-size", &text)) {
        std::size_t size = 0;
        const char* last = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), last, size);
        if (text.empty() || ec != std::errc() || ptr != last || size > kMaxImageSize) {
            return "--image-size needs a number of bytes from 0 to 67108864";
        }
        options->imageSize = size;
    }
    if (given("report", &text)) {
        if (text.empty()) {
            return "--report needs a file name";
        }
        options->reportFile = text;
    }
    if (given("restart-after", &text)) {
        if (text != "image" && text != "final-step") {
            return "--restart-after needs image or final-step";
        }
        options->restartAfter = text;
    }
    if (given("choose", &text)) {
        if (text.empty() || text == "files:") {
            return "--choose needs a version or files:FILE,FILE";
        }
        options->choose = text;
    }
    return {};
}

}  // namespace

ParseOutcome parseDemoOptions(const std::vector<std::string>& args, DemoOptions* options,
                              std::string* error) {
    const auto fail = [error](std::string message) {
        *error = std::move(message);
        return ParseOutcome::error;
    };
    QCommandLineParser parser;
    for (const OptionSpec& option : kOptions) {
        QStringList names{QString::fromLatin1(option.name)};
        if (names.front() == QLatin1String("help")) {
            names.prepend(QStringLiteral("h"));
        }
        parser.addOption(
            QCommandLineOption(names, QString::fromLatin1(option.help), option.valueName));
    }
    QStringList arguments{QStringLiteral("tarvo-remote-demo")};
    for (const std::string& arg : args) {
        arguments.append(QString::fromLocal8Bit(arg));
    }
    // parse() knows the options' syntax: unknown options, missing values, a
    // value given to an option that takes none. The values are checked below.
    if (!parser.parse(arguments)) {
        return fail(parser.errorText().toStdString());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail("unexpected argument \"" + parser.positionalArguments().front().toStdString() +
                    "\"; every option starts with --");
    }
    if (parser.isSet(QStringLiteral("help"))) {
        return ParseOutcome::help;
    }
    const auto given = [&parser](const char* name, std::string* value) {
        if (!parser.isSet(QString::fromLatin1(name))) {
            return false;
        }
        *value = parser.value(QString::fromLatin1(name)).toLocal8Bit().toStdString();
        return true;
    };

    const std::pair<const char*, bool*> flags[] = {{"auto", &options->autoRun},
                                                   {"fast", &options->fast},
                                                   {"bootloader", &options->bootloader},
                                                   {"offline", &options->offline},
                                                   {"unpaced", &options->unpaced},
                                                   {"lookalike-drive", &options->lookalikeDrive},
                                                   {"station-view", &options->stationView}};
    for (const auto& [name, flag] : flags) {
        if (parser.isSet(QString::fromLatin1(name))) {
            *flag = true;
        }
    }
    std::string text;
    if (given("controller-fw", &text)) {
        if (sim::versionCharsFor(text).size() != 3) {
            return fail("--controller-fw needs a version such as 1.1");
        }
        options->controllerFirmware = text;
    }
    if (given("controller-model", &text)) {
        if (text.size() != 1 || std::isgraph(static_cast<unsigned char>(text[0])) == 0) {
            return fail("--controller-model needs one character, such as T");
        }
        options->controllerModel = text[0];
    }
    if (given("publish", &text)) {
        auto releases = parseReleases(text);
        if (!releases) {
            return fail("--publish: cannot read \"" + text +
                        "\"; expected V:DATE items separated by commas");
        }
        options->releases = std::move(*releases);
    }
    if (given("history-file", &text)) {
        if (text.empty()) {
            return fail("--history-file needs a file name");
        }
        options->historyFile = text;
    }
    if (given("server-fault", &text)) {
        const auto fault = parseServerFault(text);
        if (!fault) {
            return fail("--server-fault: unknown fault \"" + text +
                        "\" (none|refuse|404|500|truncate|stall)");
        }
        options->serverFault = *fault;
    }
    if (std::string message =
            takeControllerOptions(given, parser.values(QStringLiteral("device-fault")), options);
        !message.empty()) {
        return fail(message);
    }
    if (given("history-delay", &text) && !parseSeconds(text, &options->historyDelaySeconds)) {
        return fail("--history-delay needs a number of seconds from 0 to 3600, such as 2.5");
    }
    if (given("screenshots", &text)) {
        if (text.empty()) {
            return fail("--screenshots needs a folder");
        }
        options->screenshotsDir = text;
    }
    if (std::string message = takeRunOptions(given, options); !message.empty()) {
        return fail(message);
    }
    if (options->historyDelaySeconds > 0 && options->serverFault != sim::ServerFault::none) {
        // The fault is switched on once the history has arrived, and with the
        // delay the release download may start before that.
        return fail("--server-fault cannot be combined with --history-delay");
    }
    return ParseOutcome::run;
}

}  // namespace tarvo::demo

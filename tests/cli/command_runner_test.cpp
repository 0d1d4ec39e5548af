// The command line's sub-commands end to end on the simulated platform: the
// engine with no window, the virtual controller, the loopback firmware server
// and real files. What a script reads (the JSON answer and the exit status) is
// checked against what the controller really received.
#include "tcontroller/cli/command_runner.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include "sim/simulated_platform.h"
#include "support/test_support.h"

namespace tarvo::test {
namespace {

struct CliRig {
    CliRig() {
        sim.server().publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                              {"1.2", "2019-10-22", std::nullopt, std::nullopt}});
        // Long enough for the engine to take the write's result before the
        // controller leaves its bootloader, also under the sanitizers.
        sim.controller().updateConfig(
            [](auto& config) { config.timings.flash = std::chrono::milliseconds(600); });
        sim.controller().plug();
    }
    ~CliRig() {
        if (sim.instantClock() != nullptr) {
            sim.instantClock()->release();
        }
    }

    int run(const std::vector<std::string>& args, bool terminal = false,
            std::optional<std::string> answer = std::nullopt) {
        const CliParse parsed = parseCliArguments(args);
        EXPECT_TRUE(parsed.options) << parsed.error;
        CommandRunner::Io io;
        io.stdinTerminal = terminal;
        io.readAnswer = [answer] { return answer; };
        io.tell = [this](const std::string& text) { told += text; };
        io.print = [this](const std::string& line) { printed.push_back(line); };
        engine = std::make_unique<UpdateEngine>(sim.platform());
        runner = std::make_unique<CommandRunner>(*engine, *parsed.options, io,
                                                 CommandRunner::Limits{10.0, 1.0, 60.0});
        return runner->run();
    }
    QJsonObject json(std::size_t fromEnd = 0) const {
        if (printed.size() <= fromEnd) {
            return {};
        }
        return QJsonDocument::fromJson(
                   QByteArray::fromStdString(printed[printed.size() - 1 - fromEnd]))
            .object();
    }
    std::vector<std::string> stages() const {
        std::vector<std::string> out;
        for (const std::string& line : printed) {
            const QJsonObject event =
                QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (event["event"] == "stage") {
                out.push_back(event["stage"].toString().toStdString());
            }
        }
        return out;
    }

    LogCapture log;
    sim::SimulatedPlatform sim;
    std::unique_ptr<UpdateEngine> engine;
    std::unique_ptr<CommandRunner> runner;
    std::vector<std::string> printed;
    std::string told;
};

TEST(CommandLine, UpdateInstallsTheNewestReleaseAndReportsItVerified) {
    CliRig rig;
    EXPECT_EQ(rig.run({"update", "--yes", "--json"}), kExitInstalled) << rig.told;
    const QJsonObject result = rig.json();
    EXPECT_EQ(result["event"], "result");
    EXPECT_EQ(result["from"], "1.1");
    EXPECT_EQ(result["to"], "1.3");
    EXPECT_EQ(result["verified"], true);
    EXPECT_TRUE(result["failed_step"].isNull());
    EXPECT_EQ(rig.sim.controller().receivedFirmware(), rig.sim.server().firmwareFile("1.3"));
    // The stages in the order they ran, each once.
    EXPECT_EQ(rig.stages(), (std::vector<std::string>{"download", "erase", "transfer",
                                                      "waiting_for_drive", "firmware_write"}));
    EXPECT_TRUE(rig.log.contains("update verified: 1.3"));
}

TEST(CommandLine, AControllerThatKeepsItsOldVersionIsAFailedUpdate) {
    CliRig rig;
    rig.sim.controller().setFaults(
        sim::VirtualController::Faults::of(sim::DeviceFault::keepOldVersion));
    EXPECT_EQ(rig.run({"update", "--yes", "--json"}), kExitFailed);
    const QJsonObject result = rig.json();
    EXPECT_EQ(result["verified"], false);
    EXPECT_EQ(result["failed_step"], "verification");
    EXPECT_FALSE(result["reason"].toString().isEmpty());
}

TEST(CommandLine, NothingIsSentWithoutAnAnsweredQuestion) {
    {
        // No terminal and no --yes: refused before anything is sent.
        CliRig rig;
        EXPECT_EQ(rig.run({"update", "--json"}), kExitFailed);
        EXPECT_NE(rig.told.find("--yes"), std::string::npos);
        EXPECT_EQ(rig.sim.controller().frameCount(sim::Command::erase), 0u);
        EXPECT_EQ(rig.json()["verified"], false);
    }
    {
        // A terminal, answered "n".
        CliRig rig;
        EXPECT_EQ(rig.run({"update", "--to", "1.3"}, true, "n"), kExitFailed);
        EXPECT_NE(rig.told.find("Install firmware 1.3 on the controller (now 1.1)? [y/N]"),
                  std::string::npos);
        EXPECT_EQ(rig.sim.controller().frameCount(sim::Command::erase), 0u);
    }
}

TEST(CommandLine, StatusNamesAnUnsupportedModelAndOffersNothing) {
    CliRig rig;
    rig.sim.controller().updateConfig([](auto& config) { config.model = 'X'; });
    EXPECT_EQ(rig.run({"status", "--json"}), kExitNothingToDo);
    const QJsonObject status = rig.json();
    EXPECT_EQ(status["offered"], false);
    EXPECT_EQ(status["controller"].toObject()["model"], "X");
    EXPECT_EQ(status["controller"].toObject()["supported"], false);
    EXPECT_EQ(status["newest"], "1.3");
}

TEST(CommandLine, ReleasesListsThePublishedAndTheBuiltInRelease) {
    CliRig rig;
    EXPECT_EQ(rig.run({"releases", "--json"}), kExitInstalled);
    const QJsonObject releases = rig.json();
    ASSERT_EQ(releases["published"].toArray().size(), 2);
    EXPECT_EQ(releases["published"].toArray()[0].toObject()["version"], "1.3");
    EXPECT_EQ(releases["builtin"].toObject()["version"], "1.2");
}

TEST(CommandLine, CtrlCDuringTheEraseWarnsFirstAndStopsAtTheSecondPress) {
    CliRig rig;
    // The erase wait's one-second sleeps are held: the update stays in its erase.
    rig.sim.instantClock()->holdSleepsOfAtLeast(1.0);
    int presses = 0;
    QTimer poke;
    poke.setInterval(20);
    QObject::connect(&poke, &QTimer::timeout, [&] {
        if (rig.runner && rig.sim.instantClock()->heldSleepers() > 0 && presses < 2) {
            ++presses;
            rig.runner->interrupt();
        }
    });
    poke.start();
    EXPECT_EQ(rig.run({"update", "--yes", "--json"}), 130);
    EXPECT_EQ(presses, 2);
    EXPECT_NE(rig.told.find("Press Ctrl-C again within 5 seconds"), std::string::npos);
    EXPECT_EQ(rig.json()["failed_step"], "erase");
    EXPECT_EQ(rig.json()["verified"], false);
    rig.sim.instantClock()->release();
}

TEST(CommandLine, LogLinesAsJsonReadBackExactly) {
    // What --json makes of a log line must parse back to the same text, for
    // every character a line can hold.
    const std::vector<std::string> lines = {R"(quote " and backslash \ and slash /)",
                                            "tab\tand\x01"
                                            "control",
                                            std::string("nul\0x", 5),
                                            "Zur\xC3\xBC"
                                            "ck \xE2\x80\x93 1.3",
                                            "{\"event\":\"result\"}",
                                            ""};
    for (const std::string& line : lines) {
        std::string json = R"({"line":)";
        appendJsonString(json, line);
        json += "}";
        QJsonParseError error{};
        const QJsonDocument parsed =
            QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
        EXPECT_EQ(parsed.object()["line"].toString().toStdString(), line) << json;
    }
}

}  // namespace
}  // namespace tarvo::test

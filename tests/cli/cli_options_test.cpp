// The command line's arguments: what each sub-command accepts, and every
// mistake a script can make read as a usage error with its reason.
#include "tcontroller/cli/cli_options.h"

#include <gtest/gtest.h>

#include "tcontroller/base/log.h"

namespace tarvo {
namespace {

TEST(CliOptions, ReadsEachCommandsOptions) {
    const CliParse update = parseCliArguments({"update", "--to", "1.3", "--yes", "--json"});
    ASSERT_TRUE(update.options) << update.error;
    EXPECT_EQ(update.options->command, CliOptions::Command::update);
    EXPECT_EQ(update.options->to, "1.3");
    EXPECT_TRUE(update.options->yes);
    EXPECT_TRUE(update.options->json);

    const CliParse files = parseCliArguments({"update", "--files", "img.bin", "fw.bin"});
    ASSERT_TRUE(files.options) << files.error;
    EXPECT_EQ(files.options->image, "img.bin");
    EXPECT_EQ(files.options->firmware, "fw.bin");
    EXPECT_FALSE(files.options->yes);

    const CliParse status = parseCliArguments({"status", "--json"});
    ASSERT_TRUE(status.options);
    EXPECT_EQ(status.options->command, CliOptions::Command::status);
    const CliParse doctor = parseCliArguments({"doctor", "--json"});
    ASSERT_TRUE(doctor.options) << doctor.error;
    EXPECT_EQ(doctor.options->command, CliOptions::Command::doctor);
    EXPECT_TRUE(doctor.options->json);
    EXPECT_TRUE(isSubCommand("releases"));
    EXPECT_FALSE(isSubCommand("-platform"));
}

TEST(CliOptions, MistakesAreUsageErrors) {
    const std::vector<std::vector<std::string>> wrong = {
        {"update", "--to"},                            // no version
        {"update", "--to", "--yes"},                   // an option for a version
        {"update", "--files", "only-one.bin"},         // one file
        {"update", "--builtin", "--to", "1.3"},        // two sources
        {"update", "--files", "a", "b", "--builtin"},  // two sources
        {"status", "--yes"},                           // update's option
        {"releases", "extra"},
        {"doctor", "--yes"},  // update's option
        {"flash"},
        {},
    };
    for (const auto& args : wrong) {
        const CliParse parsed = parseCliArguments(args);
        EXPECT_FALSE(parsed.options) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(parsed.error.empty());
    }
}

}  // namespace
}  // namespace tarvo

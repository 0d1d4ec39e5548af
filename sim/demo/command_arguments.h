#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tcontroller/cli/cli_options.h"

namespace tarvo::demo {

// Takes a sub-command and its own options out of `args` (the demo's own
// options may come before it), leaving the demo's; the exit status of a
// usage error when they are wrong.
std::optional<int> takeCommand(std::vector<std::string>& args, std::optional<CliOptions>* command);

}  // namespace tarvo::demo

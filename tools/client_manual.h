// What the package installs beside vantry, written by the program from its own command tables
// at build time: the facts of its manual page vantry(1) beyond the options and commands, and
// the bash completion of its commands and options.
//
// Thread safety: pure functions.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "platform/cli_manual.h"

namespace vantry::client {

// The NAME, SYNOPSIS and further sections of vantry(1): exit codes, errors, the backup naming
// rule, examples.
ManualInfo ClientManual();

// A bash script that completes vantry's commands (nested ones by their words), each command's
// options and the global options, and local file names where a command takes one.
std::string BashCompletion(const CLI::App& app);

}  // namespace vantry::client

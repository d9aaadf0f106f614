// A manual page in roff, written from a program's CLI11 option tables: the same descriptions
// that --help prints, so the page cannot drift from the program. Options and positionals of the
// program and of every command (nested commands by their full words) with their forms,
// descriptions and footers (the examples), then sections the program adds (exit codes, files).
//
// Thread safety: pure function.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <utility>
#include <vector>

namespace vantry {

struct ManualInfo {
  std::string name;      // "vantry"
  std::string section;   // "1", "8"
  std::string summary;   // the NAME line after the dash
  std::string synopsis;  // after the program name: "[OPTIONS] COMMAND [ARGUMENTS...]"
  std::string commands_title = "COMMANDS";
  // Further sections after the commands: title and text (paragraphs separated by blank lines,
  // lines starting with two blanks shown as they are).
  std::vector<std::pair<std::string, std::string>> sections;
};

std::string ManualPage(const CLI::App& app, const ManualInfo& info);

}  // namespace vantry

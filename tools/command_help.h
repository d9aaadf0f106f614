// What the client's help says about each operation's command, and what its error line says the
// command was doing: the one-line purpose, each argument's meaning and form, an example, and
// the action with its arguments filled in. One table for --help, the man page and the errors.
//
// Thread safety: the table is built once and then only read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantry::client {

struct ArgumentHelp {
  std::string form;     // the placeholder shown in usage lines: PATH, HOST, BYTES, ...
  std::string meaning;  // "the file to copy, a Windows path on the server ('D:\backup\db.fbk')"
};

struct CommandHelp {
  std::string purpose;  // one line
  std::string example;  // the command line after "vantry "; empty: the command words alone
  // What failed, for the error line, with {Name} standing for the argument of In parameter
  // Name: "copy {FromFileName} to {ToFileName}".
  std::string action;
};

// The help of operation `wire_name`; a plain entry for an operation the table lacks.
const CommandHelp& HelpOf(std::string_view wire_name);
// The help of In parameter `name` ("FileName"), the same in every operation.
const ArgumentHelp& ArgumentHelpOf(std::string_view name);
// `action` with each {Name} replaced by the argument of that name.
std::string FillAction(const std::string& action, const std::vector<std::string>& names,
                       const std::vector<std::string>& values);

}  // namespace vantry::client

// Every operation of VantryService as a command of the client, generated from the one table
// that declares the operations (contract/vantry_operations.h): the command's name (an
// operator's name where one is given, else the wire name in lower case with dashes), its
// arguments (the operation's In parameters, in order) and what it prints (the result and the Out
// parameters). An operation added to the table is a command here without further work.
//
// Arguments arrive as the terminal's UTF-8 and travel as Windows-1252; a text that Windows-1252
// cannot hold is refused rather than sent with "?" in it. Integers are decimal; a delete
// strategy is careful, moderate or aggressive (or 0 to 2); a Binary is the name of a local file
// whose content is sent.
//
// Thread safety: the table is built once and then only read.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "contract/VantryLibrary_Intf.h"
#include "tools/client_output.h"
#include "tools/usage_error.h"

namespace vantry::client {

struct OperationCommand {
  std::string wire_name;                 // "GetFreeDiskSpace"
  std::vector<std::string> path;         // the command words, e.g. {"df"}, {"permission", "status"}
  std::vector<std::string> inputs;       // In parameter names, in order
  std::vector<std::string> input_kinds;  // "text", "integer", "strategy" or "file", per input
  // Getters without arguments that answer one value; shown together by `vantry settings`.
  bool is_setting = false;
  // Calls the operation with `args` (one per input) and returns the result ("Result") and the
  // Out values by parameter name. Throws UsageError for a bad argument, before any call.
  std::function<std::vector<NamedValue>(IVantryService&, const std::vector<std::string>&)> run;
};

// Every operation of the table, in slot order.
const std::vector<OperationCommand>& OperationCommands();
// The command of an operation by its wire name, letter case ignored; nullptr when unknown.
const OperationCommand* FindOperation(std::string_view wire_name);

// The argument converters, shared with the commands that are not one operation each.
// UTF-8 -> Windows-1252; UsageError naming `what` when a character does not fit.
std::string ToAnsiArgument(std::string_view utf8, std::string_view what);
int64_t ParseIntegerArgument(std::string_view text, std::string_view what);
TVantry_DeleteStrategyType ParseStrategyArgument(std::string_view text);
// "careful", "moderate", "aggressive", or the number for a value outside the enumeration.
std::string StrategyName(TVantry_DeleteStrategyType strategy);

}  // namespace vantry::client

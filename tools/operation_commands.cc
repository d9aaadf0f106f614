#include "tools/operation_commands.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <tuple>
#include <type_traits>

#include "contract/vantry_operations.h"
#include "platform/codepage.h"

namespace vantry::client {
namespace {

// Operators' names for the operations that have one; the rest keep their wire name.
const std::map<std::string, std::vector<std::string>>& CommandNames() {
  static const std::map<std::string, std::vector<std::string>> names = {
      {"CopyFile", {"cp"}},
      {"GetVantryInstanceIdentifier", {"id"}},
      {"FileExists", {"exists"}},
      {"DeleteFile", {"rm"}},
      {"RenameFile", {"rename"}},
      {"MoveFile", {"mv"}},
      {"ArchiveFile", {"archive"}},
      {"CreateDirectory", {"mkdir"}},
      {"MakeSpaceOnDiskForBackup", {"reclaim"}},
      {"GetFreeDiskSpace", {"df"}},
      {"GetRequiredDiskSpace", {"required-space"}},
      {"GetBackupFileNames", {"ls"}},
      {"GetFileSize", {"size"}},
      {"ReceiveBackup", {"receive-chunk"}},
      {"SendBackup", {"send"}},
      {"RequestBackupPermission", {"permission", "request"}},
      {"RequestManualBackupPermission", {"permission", "manual"}},
      {"BackupPermissionGranted", {"permission", "status"}},
      {"RequestBackupPermissionCompleted", {"permission", "complete"}},
  };
  return names;
}

// "GetDefaultBackupPath" -> "get-default-backup-path".
std::string DashedName(std::string_view wire_name) {
  std::string out;
  for (size_t i = 0; i < wire_name.size(); ++i) {
    char c = wire_name[i];
    bool upper = std::isupper(static_cast<unsigned char>(c));
    bool next_lower =
        i + 1 < wire_name.size() && std::islower(static_cast<unsigned char>(wire_name[i + 1]));
    bool prev_lower = i > 0 && std::islower(static_cast<unsigned char>(wire_name[i - 1]));
    if (upper && i > 0 && (prev_lower || next_lower)) out += '-';
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// How an In parameter of type T is read from its argument text.
template <typename T>
struct InputParser;
template <>
struct InputParser<std::string> {
  static constexpr const char* kKind = "text";
  static std::string Parse(const std::string& arg, const char* name) {
    return ToAnsiArgument(arg, name);
  }
};
template <>
struct InputParser<int64_t> {
  static constexpr const char* kKind = "integer";
  static int64_t Parse(const std::string& arg, const char* name) {
    return ParseIntegerArgument(arg, name);
  }
};
template <>
struct InputParser<TVantry_DeleteStrategyType> {
  static constexpr const char* kKind = "strategy";
  static TVantry_DeleteStrategyType Parse(const std::string& arg, const char*) {
    return ParseStrategyArgument(arg);
  }
};
template <>
struct InputParser<std::unique_ptr<TROBinaryMemoryStream>> {
  static constexpr const char* kKind = "file";
  static std::unique_ptr<TROBinaryMemoryStream> Parse(const std::string& arg, const char* name) {
    std::ifstream in(arg, std::ios::binary);
    if (!in) throw UsageError("cannot read the file \"" + arg + "\" given for " + name);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    return std::make_unique<TROBinaryMemoryStream>(content);
  }
};

// What a result or Out value of type T prints as.
inline OutputValue Output(bool value) { return value; }
inline OutputValue Output(int32_t value) { return int64_t{value}; }
inline OutputValue Output(int64_t value) { return value; }
inline OutputValue Output(const std::string& value) { return AnsiToUtf8(value); }
inline OutputValue Output(TVantry_DeleteStrategyType value) { return StrategyName(value); }
template <typename Array>
OutputValue Output(const std::unique_ptr<Array>& list) {
  if (!list) return std::monostate{};
  std::vector<std::string> items;
  for (int i = 0; i < list->Count(); ++i) items.push_back(AnsiToUtf8(list->Items(i)));
  return items;
}

template <typename Op, typename Signature = typename Op::Signature>
struct CommandBuilder;

template <typename Op, typename C, typename R, typename... Args>
struct CommandBuilder<Op, MethodSignature<R (C::*)(Args...)>> {
  template <typename P>
  using Traits = ParamTraits<P>;
  using Locals = std::tuple<typename Traits<Args>::Local...>;
  using Indexes = std::index_sequence_for<Args...>;

  static OperationCommand Build(const Op& op) {
    OperationCommand command;
    command.wire_name = op.name;
    auto named = CommandNames().find(op.name);
    command.path = named != CommandNames().end() ? named->second
                                                 : std::vector<std::string>{DashedName(op.name)};
    DescribeInputs(op, command, Indexes{});
    constexpr bool kHasOut = (Traits<Args>::kOut || ... || false);
    command.is_setting = sizeof...(Args) == 0 && !std::is_void_v<R> && !kHasOut;
    command.run = [op](IVantryService& service, const std::vector<std::string>& args) {
      return Run(op, service, args);
    };
    return command;
  }

 private:
  template <size_t... I>
  static void DescribeInputs(const Op& op, OperationCommand& command, std::index_sequence<I...>) {
    [[maybe_unused]] auto describe = [&]<typename P>(const char* name) {
      if constexpr (!Traits<P>::kOut) {
        command.inputs.push_back(name);
        command.input_kinds.push_back(InputParser<typename Traits<P>::Local>::kKind);
      }
    };
    (describe.template operator()<Args>(op.params[I]), ...);
  }

  static std::vector<NamedValue> Run(const Op& op, IVantryService& service,
                                     const std::vector<std::string>& args) {
    Locals locals{};
    size_t next = 0;
    ParseInputs(op, locals, args, next, Indexes{});
    if (next != args.size()) {
      throw UsageError(std::string(op.name) + " takes " + std::to_string(next) + " arguments");
    }
    std::vector<NamedValue> values;
    if constexpr (std::is_void_v<R>) {
      Call(service, locals, Indexes{});
    } else {
      values.push_back({"Result", Output(Call(service, locals, Indexes{}))});
    }
    CollectOuts(op, locals, values, Indexes{});
    return values;
  }

  template <size_t... I>
  static void ParseInputs(const Op& op, Locals& locals, const std::vector<std::string>& args,
                          size_t& next, std::index_sequence<I...>) {
    [[maybe_unused]] auto parse = [&]<typename P>(const char* name, auto& local) {
      if constexpr (!Traits<P>::kOut) {
        if (next >= args.size()) throw UsageError(std::string("missing argument ") + name);
        local = InputParser<typename Traits<P>::Local>::Parse(args[next++], name);
      }
    };
    (parse.template operator()<Args>(op.params[I], std::get<I>(locals)), ...);
  }

  template <size_t... I>
  static auto Call(IVantryService& service, Locals& locals, std::index_sequence<I...>) {
    return (service.*Op::kMethod)(PassLocal<Args>(std::get<I>(locals))...);
  }

  template <size_t... I>
  static void CollectOuts(const Op& op, Locals& locals, std::vector<NamedValue>& values,
                          std::index_sequence<I...>) {
    [[maybe_unused]] auto collect = [&]<typename P>(const char* name, const auto& local) {
      if constexpr (Traits<P>::kOut) values.push_back({name, Output(local)});
    };
    (collect.template operator()<Args>(op.params[I], std::get<I>(locals)), ...);
  }
};

}  // namespace

std::string ToAnsiArgument(std::string_view utf8, std::string_view what) {
  std::string ansi = Utf8ToAnsi(utf8);
  if (AnsiToUtf8(ansi) != utf8) {
    throw UsageError(std::string(what) + " holds a character that Windows-1252 cannot represent");
  }
  return ansi;
}

int64_t ParseIntegerArgument(std::string_view text, std::string_view what) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw UsageError(std::string(what) + " must be a whole number, not \"" + std::string(text) +
                     "\"");
  }
  return value;
}

TVantry_DeleteStrategyType ParseStrategyArgument(std::string_view text) {
  for (auto strategy : {vantrydsCareful, vantrydsModerate, vantrydsAgressive}) {
    if (text == StrategyName(strategy) || text == std::to_string(int{strategy})) return strategy;
  }
  throw UsageError("no delete strategy \"" + std::string(text) +
                   "\": use careful, moderate or aggressive");
}

std::string StrategyName(TVantry_DeleteStrategyType strategy) {
  switch (strategy) {
    case vantrydsCareful:
      return "careful";
    case vantrydsModerate:
      return "moderate";
    case vantrydsAgressive:
      return "aggressive";
  }
  return std::to_string(int{strategy});
}

const std::vector<OperationCommand>& OperationCommands() {
  static const std::vector<OperationCommand> commands = [] {
    std::vector<OperationCommand> list;
    std::apply(
        [&](const auto&... op) {
          (list.push_back(CommandBuilder<std::remove_cvref_t<decltype(op)>>::Build(op)), ...);
        },
        kVantryOperations);
    return list;
  }();
  return commands;
}

const OperationCommand* FindOperation(std::string_view wire_name) {
  for (const OperationCommand& command : OperationCommands()) {
    if (AnsiSameText(command.wire_name, wire_name)) return &command;
  }
  return nullptr;
}

}  // namespace vantry::client

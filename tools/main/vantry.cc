// vantry: the operator's command-line client of vantryd. One command per operation of
// VantryService (generated from the operation table), plus settings, ping, contract, call, push
// and plan. Readable text by default, one JSON document with --json.
//
// Exit codes (tools/error_report.h): 0 success, 1 the service answered with an error or the
// client's check found that the command would do nothing, 2 usage, 3 the service could not be
// reached (a refused TLS handshake included). A failure is one line "vantry: COMMAND: what
// failed: why" on stderr, or one JSON document {"error": ...} on stdout under --json. The global
// options go anywhere on the line. --server tls://HOST[:PORT] connects over TLS with --cert,
// --key and --ca; those and the server may come from ~/.config/vantry/client.ini.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/cli_manual.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/path_helpers.h"
#include "platform/socket.h"
#include "platform/terminal.h"
#include "tools/checked_commands.h"
#include "tools/client_manual.h"
#include "tools/client_output.h"
#include "tools/client_session.h"
#include "tools/command_help.h"
#include "tools/error_report.h"
#include "tools/operation_commands.h"
#include "tools/parts.h"
#include "tools/plan.h"
#include "tools/progress_bar.h"
#include "tools/push.h"
#include "tools/tls_setup.h"

namespace vantry::client {
namespace {

struct Globals {
  std::string server = kDefaultServer;
  ClientTlsFiles tls;
  bool json = false;
  bool verbose = false;
};

// The command that ran, for its error line: its words ("permission request") and what it was
// doing with which arguments ("copy T:\a to T:\b").
struct Invocation {
  std::string command;
  std::string what;
};

// What the chosen command does once the command line is parsed: returns the values to print.
using Action = std::function<std::vector<NamedValue>(Session&)>;

void Print(const Globals& globals, const std::vector<NamedValue>& values) {
  std::string text = globals.json ? RenderJson(values) : RenderText(values);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

// What a command that only groups others is for.
std::string GroupPurpose(const std::string& word) {
  if (word == "permission") {
    return "asks for, counts and hands back backup permissions (request, manual, status, "
           "complete)";
  }
  return word + " commands";
}

// The subcommand for `path` (e.g. {"permission", "status"}), making the parents on the way.
CLI::App* Subcommand(CLI::App& app, const std::vector<std::string>& path,
                     const std::string& description) {
  CLI::App* parent = &app;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    CLI::App* found = nullptr;
    for (CLI::App* sub : parent->get_subcommands({})) {
      if (sub->get_name() == path[i]) found = sub;
    }
    if (found == nullptr) {
      found = parent->add_subcommand(path[i], GroupPurpose(path[i]));
      found->require_subcommand(1);
    }
    parent = found;
  }
  return parent->add_subcommand(path.back(), description);
}

// The name a setting is shown under: the getter's wire name without "Get".
std::string SettingName(const std::string& wire_name) {
  return wire_name.starts_with("Get") ? wire_name.substr(3) : wire_name;
}

std::string Join(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) out += (out.empty() ? "" : " ") + word;
  return out;
}

// The storage of one operation command's arguments and flags.
struct OperationArgs {
  std::vector<std::string> values;
  bool force = false;
};

void AddOperationCommands(CLI::App& app, std::deque<OperationArgs>& storage, Action& action,
                          Invocation& invocation) {
  for (const OperationCommand& command : OperationCommands()) {
    const CommandHelp& help = HelpOf(command.wire_name);
    CLI::App* sub = Subcommand(app, command.path, help.purpose);
    sub->footer("Example: vantry " + (help.example.empty() ? Join(command.path) : help.example) +
                "\nOperation: " + command.wire_name);
    OperationArgs& args = storage.emplace_back();
    args.values.resize(command.inputs.size());
    for (size_t i = 0; i < command.inputs.size(); ++i) {
      const ArgumentHelp& argument = ArgumentHelpOf(command.inputs[i]);
      sub->add_option(command.inputs[i], args.values[i], argument.meaning)
          ->required()
          ->type_name(argument.form);
    }
    if (TakesForce(command.wire_name)) {
      sub->add_flag("--force", args.force, "replace an existing target file");
    }
    sub->callback([&action, &command, &args, &invocation, &help] {
      invocation = {Join(command.path), FillAction(help.action, command.inputs, args.values)};
      action = [&command, &args](Session& session) {
        return RunCheckedCommand(command, session.Service(), args.values, args.force);
      };
    });
  }
}

void AddSettingsCommand(CLI::App& app, Action& action, Invocation& invocation) {
  CLI::App* sub = app.add_subcommand("settings", "shows every setting of the instance in one view");
  sub->footer("Example: vantry settings");
  sub->callback([&action, &invocation] {
    invocation = {"settings", "read the settings"};
    action = [](Session& session) {
      std::vector<NamedValue> values;
      for (const OperationCommand& command : OperationCommands()) {
        if (!command.is_setting) continue;
        std::vector<NamedValue> answer = command.run(session.Service(), {});
        values.push_back({SettingName(command.wire_name), answer.front().value});
      }
      return values;
    };
  });
}

void AddCallCommand(CLI::App& app, std::vector<std::string>& call_args, Action& action,
                    Invocation& invocation) {
  CLI::App* call = app.add_subcommand(
      "call", "calls any operation by its wire name and prints exactly its answer, unchecked");
  call->add_option("OPERATION", call_args,
                   "the operation's wire name (any letter case), then its arguments in order")
      ->required()
      ->expected(1, -1)
      ->type_name("OPERATION [ARGUMENTS...]");
  call->footer("Example: vantry call FileExists 'D:\\backup\\db.fbk'");
  call->callback([&action, &call_args, &invocation] {
    invocation = {"call", "call " + call_args.front()};
    action = [&call_args](Session& session) {
      const OperationCommand* command = FindOperation(call_args.front());
      if (command == nullptr) throw UsageError("no operation \"" + call_args.front() + "\"");
      return command->run(session.Service(),
                          std::vector<std::string>(call_args.begin() + 1, call_args.end()));
    };
  });
}

void AddProbeCommands(CLI::App& app, const Globals& globals, Action& action,
                      Invocation& invocation) {
  CLI::App* ping = app.add_subcommand("ping", "sends the probe request and times the answer");
  ping->footer("Example: vantry ping");
  ping->callback([&] {
    invocation = {"ping", "probe"};
    action = [&globals](Session& session) {
      auto start = std::chrono::steady_clock::now();
      std::string answer = session.Probe();
      double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      return std::vector<NamedValue>{
          {"Server", globals.server},
          {"Answer", answer},
          {"RoundTripMs", static_cast<double>(int64_t(ms * 1000)) / 1000}};
    };
  });
  CLI::App* contract = app.add_subcommand("contract", "prints the service's XML contract document");
  contract->footer("Example: vantry contract");
  contract->callback([&] {
    invocation = {"contract", "read the contract document"};
    action = [](Session& session) {
      return std::vector<NamedValue>{{"Result", session.ContractDocument()}};
    };
  });
}

struct PushArgs {
  std::string local_file;
  std::string remote_path;
  bool resume = false;
  bool compat = false;
  std::string limit_rate;
  std::string progress = "auto";
};

void AddPushCommand(CLI::App& app, PushArgs& push, Action& action, Invocation& invocation) {
  CLI::App* sub = app.add_subcommand(
      "push",
      "sends a file of this machine to the instance: over the fast transfer where it is "
      "offered, else in ReceiveBackup calls as SendBackup makes them; "
      "refuses an empty file and an existing target");
  sub->add_option("LOCAL_FILE", push.local_file, "the file on this machine: ./db.fbk")
      ->required()
      ->type_name("LOCAL_FILE");
  sub->add_option("REMOTE_PATH", push.remote_path,
                  "its Windows path on the instance: 'D:\\in\\db.fbk'")
      ->required()
      ->type_name("PATH");
  sub->footer("Example: vantry push ./db.fbk 'D:\\in\\db.fbk'");
  sub->add_flag("--resume", push.resume,
                "continue a broken-off push where it can be verified (the fast transfer always "
                "does); over ReceiveBackup it cannot, and the push starts again at offset 0");
  sub->add_flag("--compat", push.compat, "ReceiveBackup calls only, no fast transfer");
  sub->add_option("--limit-rate", push.limit_rate,
                  "bytes per second at most: 20M (k, M, G: powers of 1024)")
      ->type_name("RATE");
  sub->add_option("--progress", push.progress,
                  "progress bar on stderr: always, never or auto "
                  "(when stderr is a terminal)")
      ->check(CLI::IsMember({"always", "never", "auto"}))
      ->capture_default_str()
      ->type_name("WHEN");
  sub->callback([&push, &action, &invocation] {
    invocation = {"push", "push " + push.local_file + " to " + push.remote_path};
    action = [&push](Session& session) {
      std::string remote = ToAnsiArgument(push.remote_path, "REMOTE_PATH");
      bool show =
          push.progress == "always" || (push.progress == "auto" && StandardErrorIsTerminal());
      PushOptions options;
      options.compat = push.compat;
      if (!push.limit_rate.empty()) options.rate_limit = ParseRate(push.limit_rate);
      std::optional<ProgressBar> bar;
      if (show) bar.emplace(StandardErrorColumns());
      options.progress = [&bar](int64_t done, int64_t total) {
        if (bar) bar->Update(done, total);
      };
      PushResult result = PushFile(session, push.local_file, remote, options);
      bar.reset();
      if (push.resume && !result.fast) std::fprintf(stderr, "vantry: %s\n", kUnverifiedResumeNote);
      return std::vector<NamedValue>{{"Total", result.total},
                                     {"Path", std::string(result.fast ? "fast" : "ReceiveBackup")},
                                     {"Verified", result.verified},
                                     {"Chunks", result.chunks}};
    };
  });
}

struct PlanArgs {
  std::string directory;
  std::string database_file;
  std::string strategy = "careful";
};

// `plan` works on this machine's files and reaches no service; it prints by itself.
using LocalAction = std::function<void()>;

void AddPlanCommand(CLI::App& app, const Globals& globals, PlanArgs& plan, LocalAction& local,
                    Invocation& invocation) {
  CLI::App* sub = app.add_subcommand(
      "plan",
      "shows what reclaim would delete in a directory of this machine; deletes nothing. "
      "Backups are the files whose names begin with the database's file name");
  sub->add_option("DIRECTORY", plan.directory,
                  "the backups' directory on this machine, a host path: /srv/firebird/backup")
      ->required()
      ->type_name("DIR");
  sub->add_option("DATABASE_FILE", plan.database_file,
                  "the database; only its file name counts: db.fdb finds db.fdb.2026-12-10.fbk")
      ->required()
      ->type_name("FILE");
  sub->add_option("--strategy", plan.strategy, "careful, moderate or aggressive")
      ->capture_default_str()
      ->type_name("STRATEGY");
  sub->footer("Example: vantry plan /srv/firebird/backup db.fdb --strategy moderate");
  sub->callback([&globals, &plan, &local, &invocation] {
    invocation = {"plan", "plan reclamation in " + plan.directory};
    local = [&globals, &plan] {
      SystemClock clock;
      std::vector<PlannedBackup> backups = PlanReclamation(
          plan.directory, plan.database_file, ParseStrategyArgument(plan.strategy), clock);
      std::string out;
      if (globals.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const PlannedBackup& b : backups) {
          list.push_back({{"Path", b.path},
                          {"LastWrite", FormatLocalTime(b.last_write)},
                          {"AgeDays", std::round(b.age_days * 1000) / 1000},
                          {"Bucket", b.bucket},
                          {"Action", b.deleted ? "delete" : "keep"}});
        }
        out = list.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
      } else {
        size_t deleted = 0;
        for (const PlannedBackup& b : backups) {
          deleted += b.deleted ? 1 : 0;
          out += fmt::format("{:<6}  {:<5}  {}  {:>8.1f} d  {}\n", b.deleted ? "delete" : "keep",
                             b.bucket, FormatLocalTime(b.last_write), b.age_days, b.path);
        }
        out += fmt::format("{} backups, {} to delete, {} to keep ({} strategy)\n", backups.size(),
                           deleted, backups.size() - deleted, plan.strategy);
        // The rule is by name alone; a backup named otherwise is not one of this database's.
        if (backups.empty()) {
          out += fmt::format("(backups of {0} are the files whose names begin with \"{0}\")\n",
                             AnsiToUtf8(ExtractFileName(Utf8ToAnsi(plan.database_file))));
        }
      }
      std::fwrite(out.data(), 1, out.size(), stdout);
    };
  });
}

struct PartsArgs {
  std::string directory;
  bool clean = false;
};

void AddPartsCommand(CLI::App& app, const Globals& globals, PartsArgs& parts, LocalAction& local,
                     Invocation& invocation) {
  CLI::App* sub = app.add_subcommand(
      "parts", "lists the part and work files of transfers in a directory of this machine");
  sub->add_option("DIRECTORY", parts.directory,
                  "the directory on this machine the transfers go to, a host path: /srv/backup")
      ->required()
      ->type_name("DIR");
  sub->add_flag("--clean", parts.clean, "removes the files listed");
  sub->callback([&globals, &parts, &local, &invocation] {
    invocation = {"parts", "parts of " + parts.directory};
    local = [&globals, &parts] {
      SystemClock clock;
      std::vector<TransferFile> files = ListTransferFiles(parts.directory, clock);
      int removed = parts.clean ? RemoveTransferFiles(files) : 0;
      std::string out;
      if (globals.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const TransferFile& f : files) {
          list.push_back({{"Path", f.path}, {"Kind", f.kind}, {"Size", f.size},
                          {"Total", f.total}, {"Held", f.held},
                          {"AgeDays", std::round(f.age_days * 1000) / 1000},
                          {"Complete", f.complete}, {"Removed", parts.clean}});
        }
        out = list.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
      } else {
        for (const TransferFile& f : files) {
          out += fmt::format("{:<6}  {:>14}  {:>14} of {:<14}  {:>8.1f} d  {}{}\n", f.kind, f.size,
                             f.held, f.total, f.age_days, f.complete ? "complete  " : "",
                             f.path);
        }
        out += fmt::format("{} files{}\n", files.size(),
                           parts.clean ? fmt::format(", {} removed", removed) : "");
      }
      std::fwrite(out.data(), 1, out.size(), stdout);
    };
  });
}

// Reports the exception in flight as --json asks and returns its exit code.
int ReportFailure(const Globals& globals, const Invocation& invocation) {
  ErrorReport report = DescribeCurrentException();
  if (globals.json) {
    std::string json = ErrorJson(report);
    std::fwrite(json.data(), 1, json.size(), stdout);
  } else {
    std::string line = ErrorLine(invocation.command, invocation.what, ServerAddress(globals.server),
                                 report, globals.verbose);
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  return report.exit_code;
}

// Whether `arg` is a global option that takes a value ("--server HOST"), so the word after it
// is no command.
bool TakesValue(const CLI::App& app, const std::string& arg) {
  const CLI::Option* option = app.get_option_no_throw(arg);
  return option != nullptr && arg.find('=') == std::string::npos &&
         option->get_items_expected_min() > 0;
}

struct TlsArgs {
  std::string dir;
  std::string name;
};

// `tls init` and `tls issue` make certificates on this machine and reach no service.
void AddTlsCommands(CLI::App& app, TlsArgs& tls, LocalAction& local, Invocation& invocation) {
  CLI::App* group = app.add_subcommand(
      "tls", "makes the certificates of TLS connections on this machine (init, issue)");
  group->require_subcommand(1);
  CLI::App* init = group->add_subcommand(
      "init",
      "makes a CA, a server certificate and an operator certificate in DIR and prints "
      "the lines for Vantry.ini");
  init->add_option("DIR", tls.dir, "directory for the files, made if missing: ./vantry-tls")
      ->required()
      ->type_name("DIR");
  init->add_option("--name", tls.name, "the server's name (default: this host's name)")
      ->type_name("NAME");
  init->footer("Example: vantry tls init ./vantry-tls --name db1.example.org");
  init->callback([&tls, &local, &invocation] {
    invocation = {"tls init", "make the certificates in " + tls.dir};
    local = [&tls] { std::fputs(InitCertificates(tls.dir, tls.name).c_str(), stdout); };
  });
  CLI::App* issue = group->add_subcommand(
      "issue", "signs a certificate for NAME with the CA in DIR (another server or operator)");
  issue->add_option("DIR", tls.dir, "directory of the CA that tls init made: ./vantry-tls")
      ->required()
      ->type_name("DIR");
  issue->add_option("NAME", tls.name, "the server's or operator's name: db2.example.org")
      ->required()
      ->type_name("NAME");
  issue->footer("Example: vantry tls issue ./vantry-tls db2.example.org");
  issue->callback([&tls, &local, &invocation] {
    invocation = {"tls issue", "issue a certificate for " + tls.name};
    local = [&tls] { std::fputs(IssueNamedCertificate(tls.dir, tls.name).c_str(), stdout); };
  });
}

int Main(int argc, char** argv) {
  CLI::App app{
      "vantry: the operator's command-line client of vantryd, the Vantry service. "
      "Paths on the server are Windows paths as its callers type them "
      "('D:\\backup\\db.fbk', quoted for the shell). Exit codes: 0 done, 1 the service "
      "answered with an error or the command would not have done what it says, 2 bad "
      "usage, 3 the service could not be reached.",
      "vantry"};
  app.require_subcommand(1);
  // The global options are taken after the command and its arguments too.
  app.fallthrough();
  Globals globals;
  ClientDefaults defaults = ReadClientDefaults();
  globals.server = defaults.server.value_or(kDefaultServer);
  globals.tls = defaults.tls;
  app.add_option("--server", globals.server,
                 "HOST[:PORT] or tls://HOST[:PORT] of the instance (IPv4 or a name)")
      ->capture_default_str()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->type_name("HOST[:PORT]");
  app.add_option("--cert", globals.tls.cert, "this client's certificate (PEM) for tls://")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->type_name("FILE");
  app.add_option("--key", globals.tls.key, "its private key (PEM)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->type_name("FILE");
  app.add_option("--ca", globals.tls.ca, "the CA the server's certificate is signed by (PEM)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->type_name("FILE");
  app.add_flag("--json", globals.json, "print one JSON document; errors as {\"error\": ...}");
  app.add_flag("--verbose", globals.verbose, "errors also name the exception class and code");

  Action action;
  Invocation invocation;
  std::deque<OperationArgs> storage;
  std::vector<std::string> call_args;
  AddOperationCommands(app, storage, action, invocation);
  AddSettingsCommand(app, action, invocation);
  AddCallCommand(app, call_args, action, invocation);
  AddProbeCommands(app, globals, action, invocation);
  PushArgs push;
  AddPushCommand(app, push, action, invocation);
  PlanArgs plan;
  LocalAction local;
  AddPlanCommand(app, globals, plan, local, invocation);
  PartsArgs parts;
  AddPartsCommand(app, globals, parts, local, invocation);
  TlsArgs tls;
  AddTlsCommands(app, tls, local, invocation);

  // The build writes the manual page and the bash completion from the same tables as --help.
  if (argc == 2 && std::string_view(argv[1]) == "--manual-page") {
    std::string page = ManualPage(app, ClientManual());
    std::fwrite(page.data(), 1, page.size(), stdout);
    return kOk;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--bash-completion") {
    std::string script = BashCompletion(app);
    std::fwrite(script.data(), 1, script.size(), stdout);
    return kOk;
  }

  // CLI11 reports an unknown command as a missing one; name it instead.
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (TakesValue(app, arg)) {
      ++i;
    } else if (!arg.starts_with("-")) {
      bool known = false;
      for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->check_name(arg);
      if (!known) {
        std::fprintf(stderr, "vantry: unknown command \"%s\" (vantry --help lists them)\n",
                     arg.c_str());
        return kUsage;
      }
      break;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // The parse may have stopped before it reached --json.
    for (int i = 1; i < argc; ++i)
      globals.json = globals.json || std::string_view(argv[i]) == "--json";
    try {
      throw UsageError(std::string(e.what()) + " (vantry --help shows the usage)");
    } catch (...) {
      return ReportFailure(globals, invocation);
    }
  }

  VantryLibraryRegistration registration;
  RegisterServerExceptionClasses();
  try {
    if (local) {
      local();
      return kOk;
    }
    Session session(globals.server, globals.tls);
    Print(globals, action(session));
    return kOk;
  } catch (...) {
    return ReportFailure(globals, invocation);
  }
}

}  // namespace
}  // namespace vantry::client

int main(int argc, char** argv) { return vantry::client::Main(argc, argv); }

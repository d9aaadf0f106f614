// vantry: the operator's command-line client of vantryd. One command per operation of
// VantryService (generated from the operation table), plus settings, ping, contract, call, push
// and plan. Readable text by default, one JSON document with --json.
//
// Exit codes: 0 success, 1 the service answered with an error, 2 usage, 3 the service could not
// be reached (a refused TLS handshake included). --server tls://HOST[:PORT] connects over TLS
// with --cert, --key and --ca; those and the server may come from ~/.config/vantry/client.ini.
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

#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/socket.h"
#include "platform/terminal.h"
#include "tools/client_output.h"
#include "tools/client_session.h"
#include "tools/operation_commands.h"
#include "tools/parts.h"
#include "tools/plan.h"
#include "tools/progress_bar.h"
#include "tools/push.h"
#include "tools/tls_setup.h"

namespace vantry::client {
namespace {

enum ExitCode { kOk = 0, kServiceError = 1, kUsage = 2, kUnreachable = 3 };

struct Globals {
  std::string server = kDefaultServer;
  ClientTlsFiles tls;
  bool json = false;
};

// What the chosen command does once the command line is parsed: returns the values to print.
using Action = std::function<std::vector<NamedValue>(Session&)>;

void Print(const Globals& globals, const std::vector<NamedValue>& values) {
  std::string text = globals.json ? RenderJson(values) : RenderText(values);
  std::fwrite(text.data(), 1, text.size(), stdout);
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
      found = parent->add_subcommand(path[i], path[i] + " commands");
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

void AddOperationCommands(CLI::App& app, std::deque<std::vector<std::string>>& storage,
                          Action& action) {
  for (const OperationCommand& command : OperationCommands()) {
    CLI::App* sub = Subcommand(app, command.path, "calls " + command.wire_name);
    std::vector<std::string>& args = storage.emplace_back(command.inputs.size());
    for (size_t i = 0; i < command.inputs.size(); ++i) {
      sub->add_option(command.inputs[i], args[i], command.input_kinds[i])->required();
    }
    sub->callback([&action, &command, &args] {
      action = [&command, &args](Session& session) { return command.run(session.Service(), args); };
    });
  }
}

void AddSettingsCommand(CLI::App& app, Action& action) {
  app.add_subcommand("settings", "every setting of the instance in one view")->callback([&action] {
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

void AddCallCommand(CLI::App& app, std::vector<std::string>& call_args, Action& action) {
  CLI::App* call = app.add_subcommand("call", "calls any operation by its wire name");
  call->add_option("operation_and_arguments", call_args, "OPERATION [ARGUMENTS...]")
      ->required()
      ->expected(1, -1);
  call->callback([&action, &call_args] {
    action = [&call_args](Session& session) {
      const OperationCommand* command = FindOperation(call_args.front());
      if (command == nullptr) throw UsageError("no operation \"" + call_args.front() + "\"");
      return command->run(session.Service(),
                          std::vector<std::string>(call_args.begin() + 1, call_args.end()));
    };
  });
}

void AddProbeCommands(CLI::App& app, const Globals& globals, Action& action) {
  app.add_subcommand("ping", "sends the probe request and times the answer")->callback([&] {
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
  app.add_subcommand("contract", "prints the service's XML contract document")->callback([&] {
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

void AddPushCommand(CLI::App& app, PushArgs& push, Action& action) {
  CLI::App* sub = app.add_subcommand(
      "push",
      "sends a local file to the instance: over the fast transfer where it is offered, else in "
      "ReceiveBackup calls as SendBackup makes them");
  sub->add_option("LOCAL_FILE", push.local_file, "file on this machine")->required();
  sub->add_option("REMOTE_PATH", push.remote_path, "Windows path on the instance")->required();
  sub->add_flag("--resume", push.resume,
                "continue a broken-off push where it can be verified (the fast transfer always "
                "does); over ReceiveBackup it cannot, and the push starts again at offset 0");
  sub->add_flag("--compat", push.compat, "ReceiveBackup calls only, no fast transfer");
  sub->add_option("--limit-rate", push.limit_rate,
                  "bytes per second at most, e.g. 20M (k, M, G: powers of 1024)");
  sub->add_option("--progress", push.progress, "progress bar on stderr")
      ->check(CLI::IsMember({"always", "never", "auto"}))
      ->capture_default_str();
  sub->callback([&push, &action] {
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

void AddPlanCommand(CLI::App& app, const Globals& globals, PlanArgs& plan, LocalAction& local) {
  CLI::App* sub = app.add_subcommand(
      "plan", "shows what reclaim would delete in a directory of this machine; deletes nothing");
  sub->add_option("DIRECTORY", plan.directory, "host directory of the backups")->required();
  sub->add_option("DATABASE_FILE", plan.database_file, "the database (its file name counts)")
      ->required();
  sub->add_option("--strategy", plan.strategy, "careful, moderate or aggressive")
      ->capture_default_str();
  sub->callback([&globals, &plan, &local] {
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
      }
      std::fwrite(out.data(), 1, out.size(), stdout);
    };
  });
}

struct PartsArgs {
  std::string directory;
  bool clean = false;
};

void AddPartsCommand(CLI::App& app, const Globals& globals, PartsArgs& parts, LocalAction& local) {
  CLI::App* sub = app.add_subcommand(
      "parts", "lists the part and work files of transfers in a directory of this machine");
  sub->add_option("DIRECTORY", parts.directory, "host directory the transfers go to")->required();
  sub->add_flag("--clean", parts.clean, "removes the files listed");
  sub->callback([&globals, &parts, &local] {
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

struct TlsArgs {
  std::string dir;
  std::string name;
};

// `tls init` and `tls issue` make certificates on this machine and reach no service.
void AddTlsCommands(CLI::App& app, TlsArgs& tls, LocalAction& local) {
  CLI::App* group = app.add_subcommand("tls", "makes the certificates of TLS connections");
  group->require_subcommand(1);
  CLI::App* init = group->add_subcommand(
      "init", "makes a CA, a server certificate and an operator certificate in DIR");
  init->add_option("DIR", tls.dir, "directory for the files")->required();
  init->add_option("--name", tls.name, "the server's name (default: this host's name)");
  init->callback([&tls, &local] {
    local = [&tls] { std::fputs(InitCertificates(tls.dir, tls.name).c_str(), stdout); };
  });
  CLI::App* issue =
      group->add_subcommand("issue", "signs a certificate for NAME with the CA in DIR");
  issue->add_option("DIR", tls.dir, "directory of the CA")->required();
  issue->add_option("NAME", tls.name, "the server's or operator's name")->required();
  issue->callback([&tls, &local] {
    local = [&tls] { std::fputs(IssueNamedCertificate(tls.dir, tls.name).c_str(), stdout); };
  });
}

int Main(int argc, char** argv) {
  CLI::App app{"vantry: the command-line client of vantryd", "vantry"};
  app.require_subcommand(1);
  Globals globals;
  ClientDefaults defaults = ReadClientDefaults();
  globals.server = defaults.server.value_or(kDefaultServer);
  globals.tls = defaults.tls;
  app.add_option("--server", globals.server, "HOST[:PORT] or tls://HOST[:PORT] of the instance")
      ->capture_default_str();
  app.add_option("--cert", globals.tls.cert, "this client's certificate (PEM) for tls://");
  app.add_option("--key", globals.tls.key, "its private key (PEM)");
  app.add_option("--ca", globals.tls.ca, "the CA the server's certificate is signed by (PEM)");
  app.add_flag("--json", globals.json, "print one JSON document");

  Action action;
  std::deque<std::vector<std::string>> storage;
  std::vector<std::string> call_args;
  AddOperationCommands(app, storage, action);
  AddSettingsCommand(app, action);
  AddCallCommand(app, call_args, action);
  AddProbeCommands(app, globals, action);
  PushArgs push;
  AddPushCommand(app, push, action);
  PlanArgs plan;
  LocalAction local;
  AddPlanCommand(app, globals, plan, local);
  PartsArgs parts;
  AddPartsCommand(app, globals, parts, local);
  TlsArgs tls;
  AddTlsCommands(app, tls, local);

  // CLI11 reports an unknown command as a missing one; name it instead.
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--server" || arg == "--cert" || arg == "--key" || arg == "--ca") {
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
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? kOk : kUsage;
  }

  VantryLibraryRegistration registration;
  try {
    if (local) {
      local();
      return kOk;
    }
    Session session(globals.server, globals.tls);
    Print(globals, action(session));
    return kOk;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "vantry: %s\n", e.what());
    return kUsage;
  } catch (const ENetError& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.what());
    return kUnreachable;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.what());
    return kServiceError;
  } catch (const std::exception& e) {
    // A local command's file system failure (tls init into a directory it cannot make).
    std::fprintf(stderr, "vantry: %s\n", e.what());
    return kServiceError;
  }
}

}  // namespace
}  // namespace vantry::client

int main(int argc, char** argv) { return vantry::client::Main(argc, argv); }

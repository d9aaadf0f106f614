#include "tools/client_manual.h"

#include <map>

namespace vantry::client {
namespace {

bool Visible(const CLI::App& app, const CLI::Option* option) {
  return option != app.get_help_ptr() && !option->get_group().empty();
}

// The words that may follow the command `words` ("vantry permission"), and whether it takes a local
// file name.
void Collect(const CLI::App& app, const std::string& words, const std::string& globals,
             std::map<std::string, std::string>& next, std::map<std::string, bool>& files) {
  std::string candidates;
  for (const CLI::App* command : app.get_subcommands({})) {
    candidates += command->get_name() + " ";
    Collect(*command, words + " " + command->get_name(), globals, next, files);
  }
  bool takes_file = false;
  for (const CLI::Option* option : app.get_options({})) {
    if (!Visible(app, option)) continue;
    if (option->get_positional()) {
      const std::string type = option->get_type_name();
      takes_file = takes_file || type == "LOCAL_FILE" || type == "DIR" || type == "FILE";
    } else {
      candidates += option->get_name(false, false) + " ";
    }
  }
  if (words != "vantry") candidates += globals;
  candidates += "--help";
  next[words] = candidates;
  files[words] = takes_file;
}

}  // namespace

ManualInfo ClientManual() {
  ManualInfo info;
  info.name = "vantry";
  info.section = "1";
  info.summary = "the operator's command-line client of the Vantry service";
  info.synopsis =
      "[--server HOST[:PORT] | tls://HOST[:PORT]] [--cert FILE] [--key FILE] [--ca FILE] "
      "[--json] [--verbose] COMMAND [ARGUMENTS...]";
  info.sections = {
      {"Exit status",
       "0: done.\n\n"
       "1: the service answered with an error, or the client's check found that the command "
       "would not do what it says (a missing file, a directory where a file is meant, an "
       "existing target without --force, an empty file to push or send, a refused "
       "permission).\n\n"
       "2: bad usage: an unknown command, a missing or malformed argument, an IPv6 address.\n\n"
       "3: the service could not be reached, closed the connection before answering, or "
       "refused the TLS handshake."},
      {"Errors",
       "A failure is one line on standard error: vantry: COMMAND: what failed: why, naming the "
       "path or HOST:PORT it concerns. With --verbose the line also names the exception class "
       "and the Windows error code. With --json the error is one document on standard output: "
       "{\"error\": {\"class\": ..., \"message\": ..., \"code\": ...}}, with the same exit code. "
       "A connection closed before any answer usually means that the server does not admit this "
       "address: see AllowedSourceIPs.txt on the server."},
      {"Backup names",
       "reclaim and plan find the backups of a database by name: every file in the backup "
       "directory whose name begins with the database's file name (without its directory), "
       "such as db.fdb.2026-12-10.fbk for the database D:\\data\\db.fdb. Backups named "
       "otherwise (db_1.fbk) are neither kept nor deleted; they are not seen at all."},
      {"Files",
       "~/.config/vantry/client.ini holds defaults for the global options, one a line: "
       "server=tls://db1:8091, cert=, key= and ca= (the certificate, its key and the CA, PEM "
       "files). A server written tls://HOST[:PORT] (default port 8091) is reached over TLS."},
      {"See also", "vantryd(8), /usr/share/doc/vantry/README.md"},
  };
  return info;
}

std::string BashCompletion(const CLI::App& app) {
  std::string globals;
  for (const CLI::Option* option : app.get_options({})) {
    if (Visible(app, option) && !option->get_positional()) {
      globals += option->get_name(false, false) + " ";
    }
  }
  std::string takes_value;
  for (const CLI::Option* option : app.get_options({})) {
    if (Visible(app, option) && option->get_items_expected_min() > 0) {
      takes_value += (takes_value.empty() ? "" : "|") + option->get_name(false, false);
    }
  }
  std::map<std::string, std::string> next;
  std::map<std::string, bool> files;
  Collect(app, "vantry", globals, next, files);

  std::string script =
      "# bash completion of vantry's commands and options, written by vantry "
      "--bash-completion\n"
      "_vantry() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} command=vantry word i\n"
      "  local -A next=(\n";
  for (const auto& [words, candidates] : next) {
    script += "    [\"" + words + "\"]=\"" + candidates + "\"\n";
  }
  script += "  )\n  local -A files=(\n";
  for (const auto& [words, takes_file] : files) {
    if (takes_file) script += "    [\"" + words + "\"]=1\n";
  }
  script +=
      "  )\n"
      "  # The deepest command named so far; option values and arguments are skipped.\n"
      "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "    word=${COMP_WORDS[i]}\n"
      "    case $word in\n";
  if (!takes_value.empty()) script += "      " + takes_value + ") ((i++)) ;;\n";
  script +=
      "      -*) ;;\n"
      "      *) [[ -n ${next[\"$command $word\"]+x} ]] && "
      "command=\"$command $word\" ;;\n"
      "    esac\n"
      "  done\n"
      "  COMPREPLY=($(compgen -W \"${next[$command]}\" -- \"$cur\"))\n"
      "  if [[ -n ${files[$command]+x} && $cur != -* ]]; then\n"
      "    COMPREPLY+=($(compgen -f -- \"$cur\"))\n"
      "  fi\n"
      "}\n"
      "complete -F _vantry vantry\n";
  return script;
}

}  // namespace vantry::client

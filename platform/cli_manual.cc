#include "platform/cli_manual.h"

#include <sstream>

namespace vantry {
namespace {

// Text as roff shows it: backslashes and dashes escaped, no line that starts as a request.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

// Paragraphs separated by blank lines, each line of a paragraph on a line of its own; lines
// that start with two blanks stay as they are.
void Paragraphs(std::ostringstream& out, const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  bool literal = false;
  bool in_paragraph = false;
  while (std::getline(lines, line)) {
    if (in_paragraph && !line.empty() && !line.starts_with("  ")) out << ".br\n";
    in_paragraph = !line.empty() && !line.starts_with("  ");
    bool verbatim = line.starts_with("  ");
    if (verbatim && !literal) out << ".nf\n";
    if (!verbatim && literal) out << ".fi\n";
    literal = verbatim;
    if (line.empty()) {
      out << ".PP\n";
    } else {
      out << Escape(verbatim ? line.substr(2) : line) << "\n";
    }
  }
  if (literal) out << ".fi\n";
}

// The form of an option's value without the checks CLI11 appends ("N:INT in [0 - 65535]").
std::string Form(const CLI::Option& option) {
  std::string form = option.get_type_name();
  int depth = 0;
  for (size_t i = 0; i < form.size(); ++i) {
    depth += form[i] == '[' ? 1 : form[i] == ']' ? -1 : 0;
    if (form[i] == ':' && depth == 0) return form.substr(0, i);
  }
  return form;
}

std::string OptionLabel(const CLI::Option& option) {
  std::string label =
      option.get_positional() ? option.get_name(true) : option.get_name(false, true);
  if (option.get_items_expected_min() > 0 && !option.get_type_name().empty()) {
    label += " " + Form(option);
  }
  return label;
}

void Options(std::ostringstream& out, const CLI::App& app) {
  for (const CLI::Option* option : app.get_options({})) {
    if (option == app.get_help_ptr() || option->get_group().empty()) continue;
    out << ".TP\n.B " << Escape(OptionLabel(*option)) << "\n";
    std::string description = option->get_description();
    if (!option->get_default_str().empty()) {
      description += " (default: " + option->get_default_str() + ")";
    }
    out << Escape(description) << "\n";
  }
}

std::string Usage(const CLI::App& command) {
  std::string usage;
  for (const CLI::Option* option : command.get_options({})) {
    if (option == command.get_help_ptr() || option->get_group().empty()) continue;
    if (option->get_positional()) {
      usage += " " + option->get_name(true);
    } else {
      usage += " [" + option->get_name(false, false) +
               (option->get_items_expected_min() > 0 ? " " + Form(*option) : "") + "]";
    }
  }
  return usage;
}

void Commands(std::ostringstream& out, const CLI::App& app, const std::string& prefix) {
  for (const CLI::App* command : app.get_subcommands({})) {
    std::string words = prefix + command->get_name();
    if (!command->get_subcommands({}).empty()) {
      Commands(out, *command, words + " ");
      continue;
    }
    out << ".SS " << Escape(words + Usage(*command)) << "\n";
    out << Escape(command->get_description()) << "\n";
    bool any = false;
    for (const CLI::Option* option : command->get_options({})) {
      any = any || (option != command->get_help_ptr() && !option->get_group().empty());
    }
    if (any) {
      out << ".RS\n";
      Options(out, *command);
      out << ".RE\n";
    }
    if (!command->get_footer().empty()) {
      out << ".PP\n";
      Paragraphs(out, command->get_footer());
    }
  }
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string ManualPage(const CLI::App& app, const ManualInfo& info) {
  std::ostringstream out;
  out << ".TH " << Upper(info.name) << " " << info.section << " \"\" \"Vantry\" \"Vantry\"\n";
  out << ".SH NAME\n" << Escape(info.name) << " \\- " << Escape(info.summary) << "\n";
  out << ".SH SYNOPSIS\n.B " << Escape(info.name) << "\n" << Escape(info.synopsis) << "\n";
  out << ".SH DESCRIPTION\n";
  Paragraphs(out, app.get_description());
  out << ".SH OPTIONS\n";
  Options(out, app);
  if (!app.get_subcommands({}).empty()) {
    out << ".SH " << info.commands_title << "\n";
    Commands(out, app, "");
  }
  for (const auto& [title, text] : info.sections) {
    out << ".SH " << Upper(title) << "\n";
    Paragraphs(out, text);
  }
  return out.str();
}

}  // namespace vantry

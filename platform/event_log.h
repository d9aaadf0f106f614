// The log of the service framework: the one place where failures of lifecycle handlers are
// written, to the system log (syslog, ident = the service name) and to stderr, which systemd
// keeps in the journal. Also the optional diagnostic lines of a verbose run (stderr only), and the
// debug log of errors swallowed at the server's edges.
//
// Thread safety: safe from any thread; each entry is written whole.
#pragma once

#include <string>

namespace vantry {

// Writes `text` as an error entry of `source` to syslog and, followed by a newline, to stderr.
void WriteEventLogError(const std::string& source, const std::string& text);

// Writes `text` as a warning entry of `source` to syslog and, followed by a newline, to stderr:
// for what the operator should mend but the service runs with (a setting it cannot read).
void WriteEventLogWarning(const std::string& source, const std::string& text);

// Writes `text` and a newline to stderr (unbuffered).
void WriteDiagnosticLine(const std::string& text);

// Writes `text` as a debug-level entry of the system log (`journalctl -p debug` shows it), the
// stand-in for a debugger's output: for an error that a server's edge must swallow, since no
// caller is left to receive it, but that should not vanish without a trace.
void WriteDebugLog(const std::string& text);

// Inside a catch block: the text of the exception being handled ("unknown exception" for one
// that is not a std::exception), for the debug log.
std::string CurrentExceptionText();

}  // namespace vantry

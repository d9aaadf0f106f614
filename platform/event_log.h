// The log of the service framework: the one place where failures of lifecycle handlers are
// written, to the system log (syslog, ident = the service name) and to stderr, which systemd
// keeps in the journal. Also the optional diagnostic lines of a verbose run (stderr only).
//
// Thread safety: safe from any thread; each entry is written whole.
#pragma once

#include <string>

namespace vantry {

// Writes `text` as an error entry of `source` to syslog and, followed by a newline, to stderr.
void WriteEventLogError(const std::string& source, const std::string& text);

// Writes `text` and a newline to stderr (unbuffered).
void WriteDiagnosticLine(const std::string& text);

}  // namespace vantry

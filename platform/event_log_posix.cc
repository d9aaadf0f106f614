#include <syslog.h>
#include <unistd.h>

#include <exception>
#include <mutex>

#include "platform/event_log.h"
#include "platform/os_error.h"

namespace vantry {

namespace {

std::mutex& LogMutex() {
  static std::mutex mu;
  return mu;
}

// One write(2) per entry so that lines of concurrent writers (and of other processes sharing
// the journal stream) never interleave.
void WriteToStderr(const std::string& text) {
  std::string line = text + "\n";
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = RetryOnEintr([&] { return ::write(STDERR_FILENO, p, left); });
    if (n <= 0) return;  // nowhere else to report a broken stderr
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void WriteEventLog(int priority, const std::string& source, const std::string& text) {
  std::lock_guard<std::mutex> lock(LogMutex());
  // openlog keeps the ident pointer, so it must stay valid until the next openlog.
  static std::string ident;
  if (ident != source) {
    ident = source;
    ::openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  }
  ::syslog(priority, "%s", text.c_str());
  WriteToStderr(text);
}

}  // namespace

void WriteEventLogError(const std::string& source, const std::string& text) {
  WriteEventLog(LOG_ERR, source, text);
}

void WriteEventLogWarning(const std::string& source, const std::string& text) {
  WriteEventLog(LOG_WARNING, source, text);
}

void WriteDiagnosticLine(const std::string& text) {
  std::lock_guard<std::mutex> lock(LogMutex());
  WriteToStderr(text);
}

void WriteDebugLog(const std::string& text) { ::syslog(LOG_DEBUG, "%s", text.c_str()); }

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace vantry

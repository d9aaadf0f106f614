#include "remoting/server.h"

#include "platform/event_log.h"
#include "remoting/dispatch.h"
#include "remoting/ro_exception.h"

namespace vantry {
namespace {

// Calls a stream hook with `stream` rewound before and after.
void CallStreamHook(const std::function<void(TROBinaryMemoryStream&)>& hook,
                    TROBinaryMemoryStream& stream) {
  if (!hook) return;
  stream.Rewind();
  hook(stream);
  stream.Rewind();
}

}  // namespace

TROServer::TROServer(std::string class_name)
    : dispatchers_(std::make_unique<TROMessageDispatchers>(std::move(class_name))) {}

TROServer::~TROServer() = default;

void TROServer::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    if (on_before_server_activate) on_before_server_activate();
    IntSetActive(true);
    if (Active() && on_after_server_activate) on_after_server_activate();
  } else {
    if (on_before_server_deactivate) on_before_server_deactivate();
    IntSetActive(false);
    if (!Active() && on_after_server_deactivate) on_after_server_deactivate();
  }
}

bool TROServer::DispatchRequest(IROTransport& transport, TROBinaryMemoryStream& request,
                                TROBinaryMemoryStream& response) {
  bool result = false;
  try {
    const TROMessageDispatcher* dispatcher = dispatchers_->FindEnabled();
    if (dispatcher == nullptr) {
      throw EROException(
          "Cannot find message dispatcher. Maybe there is no message component configured for "
          "the requested path?");
    }
    CallStreamHook(on_read_from_stream, request);
    TROResponseOptions options = 0;
    result = dispatcher->ProcessMessage(transport, request, response, serve_contract, options);
    CallStreamHook(on_write_to_stream, response);
  } catch (...) {
    result = false;
    std::string text = "Unhandled exception";
    try {
      throw;
    } catch (const std::exception& error) {
      if (*error.what() != '\0') text = error.what();
    } catch (...) {
      // Not a std::exception: it has no text, and the caller is told "Unhandled exception".
    }
    response.Clear();
    response.Write(text);
    try {
      CallStreamHook(on_write_to_stream, response);
    } catch (...) {
      // The raw error text stands; the hook's own failure only goes to the log.
      WriteDebugLog("Stream hook failed on an error response: " + CurrentExceptionText());
    }
  }
  response.Rewind();
  return result;
}

}  // namespace vantry

#include "remoting/server.h"

#include "remoting/dispatch.h"

namespace vantry {

TROServer::TROServer() : dispatchers_(std::make_unique<TROMessageDispatchers>()) {}

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

// PLACEHOLDER until server dispatch lands: answers every request with the raw text of the
// missing-dispatcher error.
bool TROServer::DispatchRequest(IROTransport& transport, TROBinaryMemoryStream& request,
                                TROBinaryMemoryStream& response) {
  response.Write(std::string_view(
      "Cannot find message dispatcher. Maybe there is no message component configured for the "
      "requested path?"));
  response.Rewind();
  return false;
}

}  // namespace vantry

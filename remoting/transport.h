// IROTransport: the per-connection transport object that dispatch receives with every request.
//
// Thread safety: owned by one connection thread; used only by that thread.
#pragma once

#include <functional>
#include <string>

namespace vantry {

class IROTransport {
 public:
  virtual ~IROTransport() = default;
  // The peer's IPv4 address in dotted-decimal text, e.g. "192.168.1.20"; empty when unknown.
  virtual std::string GetClientAddress() const = 0;
  // Asks that the connection stay open after this response for further requests of the same
  // caller, whatever the server's own KeepAlive says, and that `on_end` (when given) run once on
  // the connection's thread when it ends. For services whose callers make many calls over a few
  // connections; a transport that cannot keep a connection returns false and runs nothing.
  virtual bool KeepConnection(std::function<void()> /*on_end*/) { return false; }
};

}  // namespace vantry

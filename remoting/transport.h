// IROTransport: the per-connection transport object that dispatch receives with every request.
//
// Thread safety: owned by one connection thread; used only by that thread.
#pragma once

#include <string>

namespace vantry {

class IROTransport {
 public:
  virtual ~IROTransport() = default;
  // The peer's IPv4 address in dotted-decimal text, e.g. "192.168.1.20"; empty when unknown.
  virtual std::string GetClientAddress() const = 0;
};

}  // namespace vantry

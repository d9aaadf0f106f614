// Message dispatchers: bind a message format (a template message) to a server.
// PLACEHOLDER until server dispatch lands: the collection exists but holds nothing.
#pragma once

namespace vantry {

class TROMessageDispatchers {
 public:
  TROMessageDispatchers() = default;
};

}  // namespace vantry

// UsageError: bad input from the command line (a missing or malformed argument, an unknown
// name, a port out of range). The client prints its text and exits with the usage code 2.
//
// Thread safety: plain value type.
#pragma once

#include <stdexcept>

namespace vantry::client {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vantry::client

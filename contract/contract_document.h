// The stored contract document: the XML description of VantryLibrary (contract/VantryLibrary.xml,
// UTF-8, CRLF line ends), embedded into the program when it is built. The contract module hands
// it to the runtime at start-up with SetServiceDescription() (remoting/service_description.h).
//
// Thread safety: the bytes are constant.
#pragma once

#include <string_view>

namespace vantry {

// The exact bytes of contract/VantryLibrary.xml.
std::string_view StoredContractDocument();

}  // namespace vantry

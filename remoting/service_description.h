// The service description: the XML contract document that a metadata request (an empty request)
// is answered with. The runtime knows no contract; the contract module hands the stored document
// to it at start-up with SetServiceDescription().
//
// Thread safety: set the description before the server is switched on; writing it is safe from
// any number of threads.
#pragma once

#include <string_view>

#include "platform/exception.h"
#include "remoting/binary_stream.h"

namespace vantry {

// No description was registered: "Resource %s not found" with "CONTRACTFILE".
VANTRY_EXCEPTION(EResNotFound, Exception);

inline constexpr char kServiceDescriptionContentType[] = "text/xml; charset=utf-8";

// Registers the stored document (UTF-8 XML); `stored` must stay valid while it is registered.
// An empty view removes the registration.
void SetServiceDescription(std::string_view stored);

// Appends the document at `dest`'s position: parsed and written out again (two-space
// indentation, CRLF line ends), or the stored bytes unchanged when they do not parse. Throws
// EResNotFound when nothing is registered.
void WriteServiceDescription(TROBinaryMemoryStream& dest);

}  // namespace vantry

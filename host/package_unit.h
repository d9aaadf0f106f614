// The systemd unit of the Debian package (packaging/vantry.service), embedded into vantryd when it
// is built, so that "vantryd INSTALL" writes the same hardened unit as the package does.
//
// Thread safety: the bytes are constant.
#pragma once

#include <string_view>

namespace vantry {

inline constexpr char kPackageUnitName[] = "vantry";

// The exact bytes of packaging/vantry.service.
std::string_view PackageUnitText();

}  // namespace vantry

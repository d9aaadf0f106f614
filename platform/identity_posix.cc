#include <sys/random.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>

#include "platform/identity.h"
#include "platform/os_error.h"

namespace vantry {

Guid NewGuid() {
  uint8_t bytes[kGuidSize];
  size_t filled = 0;
  while (filled < sizeof(bytes)) {
    ssize_t n =
        RetryOnEintr([&] { return ::getrandom(bytes + filled, sizeof(bytes) - filled, 0); });
    if (n < 0) RaiseErrno(errno);
    filled += static_cast<size_t>(n);
  }
  Guid guid = GuidFromBytes(bytes);
  guid.data3 = static_cast<uint16_t>((guid.data3 & 0x0FFF) | 0x4000);   // version 4
  guid.data4[0] = static_cast<uint8_t>((guid.data4[0] & 0x3F) | 0x80);  // variant 10xx
  return guid;
}

std::string ComputerName() {
  char host[HOST_NAME_MAX + 1];
  if (::gethostname(host, sizeof(host)) != 0) return {};
  host[HOST_NAME_MAX] = '\0';
  std::string name;
  for (const char* c = host; *c != '\0' && *c != '.' && name.size() < 15; ++c) {
    name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*c))));
  }
  return name;
}

}  // namespace vantry

// Kept apart from the socket calls: the IP helper headers do not mix with Winsock 1.1's.
#include <windows.h>

#include <iphlpapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "check_system.h"

namespace torvexan::check {

namespace {

// Dotted text to an address in network byte order; 0 when it is not one.
uint32_t FromDotted(const char* text) {
  unsigned b[4];
  if (std::sscanf(text, "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]) != 4) return 0;
  const uint8_t bytes[4] = {static_cast<uint8_t>(b[0]), static_cast<uint8_t>(b[1]),
                            static_cast<uint8_t>(b[2]), static_cast<uint8_t>(b[3])};
  uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

}  // namespace

bool LocalMask(uint32_t address, uint32_t* mask) {
  ULONG size = 0;
  if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return false;
  std::vector<unsigned char> buffer(size);
  auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (::GetAdaptersInfo(adapters, &size) != NO_ERROR) return false;
  for (const IP_ADAPTER_INFO* a = adapters; a != nullptr; a = a->Next) {
    for (const IP_ADDR_STRING* ip = &a->IpAddressList; ip != nullptr; ip = ip->Next) {
      if (FromDotted(ip->IpAddress.String) != address) continue;
      *mask = FromDotted(ip->IpMask.String);
      return true;
    }
  }
  return false;
}

}  // namespace torvexan::check

// torvexan_modbus_peer DEVICE BAUD COUNT WAIT_MS: a libmodbus device (address 1, 8E1) on a
// serial line that serves COUNT requests, waiting up to WAIT_MS for each, and prints one line
// "function F register R = V" per request it accepts. Exits 1 when one does not come or is
// refused (a bad CRC among them).
#include <cstdio>
#include <cstdlib>

#include "serial/modbus_peer.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s DEVICE BAUD COUNT WAIT_MS\n", argv[0]);
    return 2;
  }
  torvexan::sim::ModbusPeer peer(argv[1], std::atoi(argv[2]));
  if (!peer.ok()) {
    std::fprintf(stderr, "modbus peer: cannot open %s\n", argv[1]);
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const int count = std::atoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    torvexan::sim::ModbusRequest r{};
    if (!peer.Receive(std::atoi(argv[4]), &r)) {
      std::fprintf(stderr, "modbus peer: request %d: %s\n", i + 1, peer.error());
      return 1;
    }
    std::printf("function %d register %d = %d\n", r.function, r.reg, r.value);
    std::fflush(stdout);
  }
  return 0;
}

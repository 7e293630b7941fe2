#include "card/card_wire.h"

namespace torvexan::sim {

void DecodeChained(uint8_t* bytes, int length) {
  // Walk backwards so every byte still sees the wire byte before it.
  for (int i = length - 1; i >= 1; --i) bytes[i] ^= bytes[i - 1];
}

void EncodeChained(uint8_t* bytes, int length) {
  for (int i = 1; i < length; ++i) bytes[i] ^= bytes[i - 1];
}

}  // namespace torvexan::sim

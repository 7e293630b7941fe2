// Writes 24-bit RGB pixels as a PNG file: deflate's stored blocks, no compression, so the file
// needs no library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace torvexan::wintest {

inline uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void PutU32Be(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void PutChunk(std::vector<uint8_t>& file, const char* type,
                     const std::vector<uint8_t>& data) {
  PutU32Be(file, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  file.insert(file.end(), body.begin(), body.end());
  PutU32Be(file, Crc32(body.data(), body.size()));
}

// rgb holds height rows of width pixels, top row first, 3 bytes a pixel.
inline bool WritePng(const char* path, int width, int height, const std::vector<uint8_t>& rgb) {
  constexpr size_t kStoredBlockMax = 65535;
  std::vector<uint8_t> raw;  // each row behind its filter byte (0: none)
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgb.begin() + static_cast<long>(y * rowBytes),
               rgb.begin() + static_cast<long>((y + 1) * rowBytes));
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;  // Adler-32 of the raw bytes
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size() || at == 0; at += kStoredBlockMax) {
    const size_t n = raw.size() - at < kStoredBlockMax ? raw.size() - at : kStoredBlockMax;
    z.push_back(at + n >= raw.size() ? 1 : 0);  // last block?
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
    if (n == 0) break;
  }
  PutU32Be(z, (b << 16) | a);

  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutU32Be(header, static_cast<uint32_t>(width));
  PutU32Be(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, truecolour, deflate, no interlace
  PutChunk(file, "IHDR", header);
  PutChunk(file, "IDAT", z);
  PutChunk(file, "IEND", {});
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace torvexan::wintest

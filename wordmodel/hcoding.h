// Fixed-width integer coding: 32-bit values stored most significant byte
// first, as every integer of a compressed file is.
#ifndef MORAVINE_WORDMODEL_HCODING_H_
#define MORAVINE_WORDMODEL_HCODING_H_

#include <cstdint>

// Writes value as 4 bytes, bits 31-24 first.
inline void HInt_tostring(int32_t value, unsigned char* out) {
  uint32_t v = static_cast<uint32_t>(value);
  out[0] = static_cast<unsigned char>(v >> 24);
  out[1] = static_cast<unsigned char>(v >> 16);
  out[2] = static_cast<unsigned char>(v >> 8);
  out[3] = static_cast<unsigned char>(v);
}

// Reads 4 bytes, the first into bits 31-24; the bytes are taken as unsigned.
inline void HInt_fromstring(const unsigned char* in, int32_t* value) {
  uint32_t v = (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
               (static_cast<uint32_t>(in[2]) << 8) | static_cast<uint32_t>(in[3]);
  *value = static_cast<int32_t>(v);
}

#endif  // MORAVINE_WORDMODEL_HCODING_H_

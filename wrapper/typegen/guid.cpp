#include "guid.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace zul::typegen {
namespace {

uint32_t Rotate(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

std::array<uint8_t, 20> Sha1(const std::vector<uint8_t>& message) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::vector<uint8_t> data = message;
  const uint64_t bits = uint64_t{message.size()} * 8;
  data.push_back(0x80);
  while (data.size() % 64 != 56) data.push_back(0);
  for (int i = 7; i >= 0; --i) data.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (size_t block = 0; block < data.size(); block += 64) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      const uint8_t* p = &data[block + 4 * i];
      w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    }
    for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      uint32_t f, k;
      if (i < 20) {
        f = (b & c) | (~b & d), k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d, k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d, k = 0xCA62C1D6;
      }
      const uint32_t t = Rotate(a, 5) + f + e + k + w[i];
      e = d, d = c, c = Rotate(b, 30), b = a, a = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  std::array<uint8_t, 20> digest;
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

}  // namespace

std::string GuidText(const Guid& guid) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[guid.bytes[i] >> 4];
    text += kHex[guid.bytes[i] & 15];
  }
  return text;
}

std::optional<Guid> ParseGuid(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  Guid guid;
  int digit = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return std::nullopt;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    guid.bytes[digit / 2] = static_cast<uint8_t>(guid.bytes[digit / 2] << 4 | value);
    ++digit;
  }
  return guid;
}

Guid NameBasedGuid(const Guid& space, std::string_view name) {
  std::vector<uint8_t> message(space.bytes.begin(), space.bytes.end());
  message.insert(message.end(), name.begin(), name.end());
  const auto digest = Sha1(message);
  Guid guid;
  std::memcpy(guid.bytes.data(), digest.data(), 16);
  guid.bytes[6] = static_cast<uint8_t>((guid.bytes[6] & 0x0F) | 0x50);  // version 5
  guid.bytes[8] = static_cast<uint8_t>((guid.bytes[8] & 0x3F) | 0x80);  // the standard variant
  return guid;
}

const Guid& TypegenNamespace() {
  // Fixed once: every identity derived by zul-typegen hangs from it, so changing it re-keys every class.
  static const Guid space = *ParseGuid("c34188ec-de6e-4adf-8739-f7f11d71387a");
  return space;
}

}  // namespace zul::typegen

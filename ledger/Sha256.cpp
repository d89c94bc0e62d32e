#include "Sha256.h"

#include "Module.h"

std::string TSha256::Hex(const std::vector<uint8_t>& bytes) {
  // Nettle is a module of its own: only a production run needs it.
  using TDigest = void (*)(const uint8_t*, size_t, uint8_t*);
  static const auto digestOf =
      reinterpret_cast<TDigest>(TModule::Entry("korvane-nettle", "korvane_sha256"));
  uint8_t digest[32];
  digestOf(bytes.data(), bytes.size(), digest);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

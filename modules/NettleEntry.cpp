// The module korvane-nettle: the SHA-256 digest of what was written to a board, by Nettle.
#include <cstddef>
#include <cstdint>
#include <nettle/sha2.h>

extern "C" void korvane_sha256(const uint8_t* bytes, size_t count, uint8_t* digest) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, count, bytes);
  sha256_digest(&context, SHA256_DIGEST_SIZE, digest);
}

// The file's SHA-256 through nettle, which libcurl's GnuTLS has loaded
// anyway.

#include <nettle/sha2.h>

#include <memory>
#include <vector>

#include "platform/sequential_file.h"
#include "platform/sha256.h"

namespace hj5 {

Status Sha256Of(SequentialFile& file, std::string* hex) {
  sha256_ctx context;
  sha256_init(&context);
  if (Status read = ReadChunks(
          file,
          [&context](const char* bytes, std::size_t size) {
            sha256_update(&context, size,
                          reinterpret_cast<const std::uint8_t*>(bytes));
          });
      !read.ok())
    return read;
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  static constexpr char kDigits[] = "0123456789abcdef";
  hex->clear();
  for (std::uint8_t byte : digest) {
    *hex += kDigits[byte >> 4];
    *hex += kDigits[byte & 0xF];
  }
  return Status();
}

}  // namespace hj5

// The file's SHA-256 through the system's CNG.

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <memory>
#include <vector>

#include "platform/sequential_file.h"
#include "platform/sha256.h"

namespace hj5 {
namespace {

// Closes what CNG opened for the hash.
struct HashHandles {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~HashHandles() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Status CngFailure(const char* step, NTSTATUS status) {
  return Status::Failure(-1, std::string(step) + ": NTSTATUS " +
                                 std::to_string(static_cast<long>(status)));
}

}  // namespace

Status Sha256Of(SequentialFile& file, std::string* hex) {
  HashHandles handles;
  NTSTATUS status = BCryptOpenAlgorithmProvider(
      &handles.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (status < 0) return CngFailure("SHA-256", status);
  status = BCryptCreateHash(handles.algorithm, &handles.hash, nullptr, 0,
                            nullptr, 0, 0);
  if (status < 0) return CngFailure("SHA-256", status);
  Status read = ReadChunks(file, [&](const char* bytes, std::size_t size) {
    if (status >= 0) {
      status = BCryptHashData(
          handles.hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes)),
          static_cast<ULONG>(size), 0);
    }
  });
  if (!read.ok()) return read;
  if (status < 0) return CngFailure("SHA-256", status);
  UCHAR digest[32];
  status = BCryptFinishHash(handles.hash, digest, sizeof digest, 0);
  if (status < 0) return CngFailure("SHA-256", status);
  static constexpr char kDigits[] = "0123456789abcdef";
  hex->clear();
  for (UCHAR byte : digest) {
    *hex += kDigits[byte >> 4];
    *hex += kDigits[byte & 0xF];
  }
  return Status();
}

}  // namespace hj5

#ifndef HJ5_PLATFORM_SYSTEM_NAME_LOOKUP_H_
#define HJ5_PLATFORM_SYSTEM_NAME_LOOKUP_H_

#include <memory>
#include <string>

#include "platform/name_lookup.h"

namespace hj5 {

// The product's lookup: glibc's getaddrinfo_a, which does the work on
// glibc's own threads (hosts file, DNS, ... as nsswitch.conf says) and
// calls `done` on a thread of its own when the lookup has finished.
//
// Every lookup owns its state jointly with glibc: the request's memory
// lives until glibc has finished with it, however early the lookup was
// abandoned. So abandoning never blocks, and a lookup the system never
// finishes holds up neither a close nor the process's exit.
//
// ThreadSanitizer cannot follow glibc's lookup threads (they allocate on
// threads it never saw start, and it crashes), so a build with it looks the
// name up on the calling thread inside Start() instead; such a build then
// waits for the lookup.
//
// On Windows the lookup runs getaddrinfo on a thread of the system's thread
// pool, which owns a share of the lookup's state in the same way.
//
// Threading: see NameLookup; the object holds nothing, any thread may use it.
class SystemNameLookup final : public NameLookup {
 public:
  SystemNameLookup() = default;
  ~SystemNameLookup() override = default;

  std::unique_ptr<PendingLookup> Start(const std::string& host,
                                       Done done) override;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_SYSTEM_NAME_LOOKUP_H_

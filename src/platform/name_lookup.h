#ifndef HJ5_PLATFORM_NAME_LOOKUP_H_
#define HJ5_PLATFORM_NAME_LOOKUP_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hj5 {

// What a name lookup found.
struct LookupResult {
  // Numeric addresses ("192.0.2.7", "::1") in the order to try them; empty
  // when the lookup failed.
  std::vector<std::string> addresses;
  // Why nothing was found, for a maintainer ("Name or service not known");
  // empty when addresses were found.
  std::string cause;
};

// A lookup in progress. Destroying it abandons the lookup.
class PendingLookup {
 public:
  PendingLookup() = default;
  PendingLookup(const PendingLookup&) = delete;
  PendingLookup& operator=(const PendingLookup&) = delete;

  // Abandons the lookup if it has not answered yet. Once the destructor has
  // returned, its `done` is never called and has been released (with what
  // it captured). Never waits for the lookup itself; it waits only for a
  // call of `done` already running on another thread to return.
  // Threading: any one thread, but never from inside `done`.
  virtual ~PendingLookup() = default;
};

// Turns a host name into addresses without blocking the caller.
class NameLookup {
 public:
  // Called at most once, with the result; never after the lookup's
  // PendingLookup was destroyed. It may run on any thread (also on the
  // caller's, before Start() returns), so it must be quick and must neither
  // block nor destroy the PendingLookup.
  using Done = std::function<void(LookupResult result)>;

  NameLookup() = default;
  NameLookup(const NameLookup&) = delete;
  NameLookup& operator=(const NameLookup&) = delete;
  virtual ~NameLookup() = default;

  // Starts looking up `host` and returns the handle of the lookup (never
  // null). A failure to start is reported through `done`. The object may
  // be destroyed while lookups it started are still pending.
  // Threading: any thread; calls from several threads may overlap. May
  // throw std::bad_alloc.
  virtual std::unique_ptr<PendingLookup> Start(const std::string& host,
                                               Done done) = 0;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_NAME_LOOKUP_H_

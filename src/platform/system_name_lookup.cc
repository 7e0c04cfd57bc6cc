#include "platform/system_name_lookup.h"

#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>

#include <exception>
#include <mutex>
#include <utility>

#include "platform/lookup_share.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HJ5_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define HJ5_THREAD_SANITIZER 1
#endif

namespace hj5 {
namespace {

// One lookup: the request glibc works on and the caller's `done`. Its
// PendingLookup holds one share and glibc the other until it has finished
// with the request.
struct Request : LookupShare {
  Request(const std::string& name, NameLookup::Done done_in)
      : LookupShare(std::move(done_in)), host(name) {
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    block.ar_name = host.c_str();
    block.ar_request = &hints;
  }

  const std::string host;
  addrinfo hints{};
  gaicb block{};
};

// Numeric addresses of a finished getaddrinfo, or why there are none.
LookupResult Collect(int status, const addrinfo* list) {
  LookupResult result;
  if (status != 0) {
    result.cause = gai_strerror(status);
    return result;
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    char text[NI_MAXHOST];
    if (getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text,
                    nullptr, 0, NI_NUMERICHOST) == 0) {
      result.addresses.emplace_back(text);
    }
  }
  if (result.addresses.empty()) result.cause = "no address";
  return result;
}

// The result of a lookup glibc has finished, before its memory is freed.
void Finish(Request& request, int status) {
  try {
    request.Deliver(Collect(status, request.block.ar_result));
  } catch (const std::exception&) {
    request.Deliver(LookupResult{{}, "no memory"});
  }
  if (request.block.ar_result != nullptr) freeaddrinfo(request.block.ar_result);
  request.block.ar_result = nullptr;
}

#if !defined(HJ5_THREAD_SANITIZER)
// glibc's notification, on a thread glibc starts once the request is done;
// it owns glibc's share of the request.
void OnFinished(sigval value) {
  const std::unique_ptr<std::shared_ptr<Request>> share(
      static_cast<std::shared_ptr<Request>*>(value.sival_ptr));
  Request& request = **share;
  Finish(request, gai_error(&request.block));
}
#endif

}  // namespace

std::unique_ptr<PendingLookup> SystemNameLookup::Start(const std::string& host,
                                                       Done done) {
  auto request = std::make_shared<Request>(host, std::move(done));
  auto pending = std::make_unique<SharedPendingLookup>(request);
#if defined(HJ5_THREAD_SANITIZER)
  Finish(*request, getaddrinfo(request->block.ar_name, nullptr, &request->hints,
                               &request->block.ar_result));
#else
  auto glibc_share = std::make_unique<std::shared_ptr<Request>>(request);
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD;
  event.sigev_notify_function = OnFinished;
  event.sigev_value.sival_ptr = glibc_share.get();
  gaicb* list[] = {&request->block};
  const int status = getaddrinfo_a(GAI_NOWAIT, list, 1, &event);
  // Even after a refusal glibc may have queued the request or may still
  // notify, so its share is never freed here: OnFinished frees it, or it is
  // kept for good (only when the system is out of threads or memory).
  glibc_share.release();
  if (status != 0) {
    request->Deliver(LookupResult{{}, gai_strerror(status)});
  }
#endif
  return pending;
}

}  // namespace hj5

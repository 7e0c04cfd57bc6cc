// The system's name lookup on Windows: getaddrinfo on a thread of the
// process's system thread pool. The pool's thread owns a share of the
// lookup's state, so abandoning it never blocks and the process's exit
// never waits for it (ExitProcess ends the pool's threads).

// winsock2.h must come before windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/lookup_share.h"
#include "platform/system_name_lookup.h"

namespace hj5 {
namespace {

// One lookup: the name and the caller's `done`, shared by its PendingLookup
// and the pool's callback.
struct Request : LookupShare {
  Request(const std::string& name, NameLookup::Done done_in)
      : LookupShare(std::move(done_in)), host(name) {}

  const std::string host;
};

// Numeric addresses of `host`, or why there are none. Winsock is started
// for the call and stopped after it (it counts its users).
LookupResult Resolve(const std::string& host) {
  LookupResult result;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    result.cause = "winsock did not start";
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (status != 0) {
    result.cause = "getaddrinfo error " + std::to_string(status);
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    char text[NI_MAXHOST];
    if (getnameinfo(entry->ai_addr, static_cast<int>(entry->ai_addrlen), text,
                    sizeof text, nullptr, 0, NI_NUMERICHOST) == 0) {
      result.addresses.emplace_back(text);
    }
  }
  if (list != nullptr) freeaddrinfo(list);
  if (status == 0 && result.addresses.empty()) result.cause = "no address";
  WSACleanup();
  return result;
}

// The pool's callback; it owns the pool's share of the request.
void CALLBACK OnPoolThread(PTP_CALLBACK_INSTANCE, void* context) {
  const std::unique_ptr<std::shared_ptr<Request>> share(
      static_cast<std::shared_ptr<Request>*>(context));
  Request& request = **share;
  try {
    request.Deliver(Resolve(request.host));
  } catch (const std::exception&) {
    request.Deliver(LookupResult{{}, "no memory"});
  }
}

}  // namespace

std::unique_ptr<PendingLookup> SystemNameLookup::Start(const std::string& host,
                                                       Done done) {
  auto request = std::make_shared<Request>(host, std::move(done));
  auto pending = std::make_unique<SharedPendingLookup>(request);
  auto pool_share = std::make_unique<std::shared_ptr<Request>>(request);
  if (TrySubmitThreadpoolCallback(OnPoolThread, pool_share.get(), nullptr)) {
    pool_share.release();  // OnPoolThread frees it
  } else {
    request->Deliver(LookupResult{{}, "no thread for the lookup"});
  }
  return pending;
}

}  // namespace hj5

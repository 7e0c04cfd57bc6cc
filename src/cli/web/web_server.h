#ifndef HJ5_CLI_WEB_WEB_SERVER_H_
#define HJ5_CLI_WEB_WEB_SERVER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/web/run_view.h"

namespace hj5::cli::web {

// Where the page is served: --web [ADDR:]PORT.
struct WebAddress {
  std::string address = "127.0.0.1";  // IPv6 without brackets
  std::uint16_t port = 0;             // 0: the system picks
  bool named = false;                 // ADDR was given
};

// "PORT", "ADDR:PORT", "[IPV6]:PORT"; nullopt with why in `*error`.
std::optional<WebAddress> ParseWebAddress(std::string_view text,
                                          std::string* error);

// The live page of a run on Boost.Beast, on a thread of its own: one page,
// its event stream, a device's events and the two controls. Nobody else
// drives the run:
//   - every request needs the token (256 random bits), compared in
//     constant time: from the printed address on the first load, then from
//     an HttpOnly, SameSite=Strict cookie (an event stream sends no
//     headers of its own);
//   - a request whose Host is neither the bound address nor a loopback
//     name is refused (a DNS-rebinding page cannot reach it);
//   - the controls are POSTs that also need the token in X-HJ5-Token and a
//     same-origin Origin; no CORS header is ever sent;
//   - nothing it serves holds a password (RunView keeps none).
class WebServer {
 public:
  // What the page's controls ask, each once confirmed: "Stop starting
  // devices" (as a first Ctrl-C) and "Stop and restore" (as SIGTERM).
  enum class Control { kDrain, kRestore };
  using OnControl = std::function<void(Control)>;

  // Binds and starts serving; nullptr with why in `*error`.
  static std::unique_ptr<WebServer> Start(const WebAddress& where,
                                          RunView& view, OnControl on_control,
                                          std::string* error);
  // Gives the open pages a moment to receive the run's end, then closes
  // every connection and joins the thread.
  ~WebServer();

  // "http://127.0.0.1:PORT/?token=...".
  std::string Url() const;
  bool loopback() const;

  class Impl;

 private:
  explicit WebServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace hj5::cli::web

#endif  // HJ5_CLI_WEB_WEB_SERVER_H_

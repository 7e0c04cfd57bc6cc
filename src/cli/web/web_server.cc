#include "cli/web/web_server.h"

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <random>
#include <thread>

#include "cli/web/page.h"
#include "fleet/device_list.h"

namespace hj5::cli::web {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// How often an open page is sent what changed, and kept alive otherwise.
constexpr std::chrono::milliseconds kBatchEvery{300};
constexpr int kKeepAliveBatches = 50;
// How long a request may take to arrive, and the most it may hold.
constexpr std::chrono::seconds kRequestTime{30};
constexpr std::size_t kRequestLimit = 16 * 1024;

// The page may run its own script and style, and talk to this server only.
constexpr const char* kPolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src "
    "'unsafe-inline'; img-src data:; connect-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";

std::string NewToken() {
  std::random_device random;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 8; ++i) {
    for (std::uint32_t word = random(), n = 0; n < 8; ++n, word >>= 4)
      token += kHex[word & 15];
  }
  return token;
}

// Whether `given` is the secret, in a time that does not depend on where
// they first differ (the length is no secret).
bool SameSecret(std::string_view given, std::string_view secret) {
  if (secret.empty() || given.size() != secret.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < secret.size(); ++i)
    differ |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return differ == 0;
}

// Beast's view as the standard one.
std::string_view View(beast::string_view text) {
  return {text.data(), text.size()};
}

// "17" as 17; nullopt for anything but a few decimal digits.
std::optional<std::size_t> Index(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

// The value of cookie `name` in a Cookie header; empty when absent.
std::string CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const std::size_t end = std::min(header.find(';'), header.size());
    std::string_view pair = header.substr(0, end);
    header.remove_prefix(std::min(end + 1, header.size()));
    while (pair.starts_with(' ')) pair.remove_prefix(1);
    if (pair.starts_with(name) && pair.substr(name.size()).starts_with('='))
      return std::string(pair.substr(name.size() + 1));
  }
  return "";
}

}  // namespace

class WebServer::Impl {
 public:
  Impl(RunView& view, OnControl on_control)
      : view_(view), on_control_(std::move(on_control)), token_(NewToken()) {}

  bool Listen(const WebAddress& where, std::string* error);
  void Run() {
    thread_ = std::thread([this] { io_.run(); });
  }
  void Stop() {
    // The open pages get the run's last batch, then their streams close.
    const auto deadline = std::chrono::steady_clock::now() + 3 * kBatchEvery;
    while (streams_.load() > 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    io_.stop();
    if (thread_.joinable()) thread_.join();
  }

  std::string HostPort() const {
    const std::string address = endpoint_.address().to_string();
    const bool v6 = endpoint_.address().is_v6();
    return (v6 ? "[" + address + "]" : address) + ":" +
           std::to_string(endpoint_.port());
  }
  std::string Url() const {
    return "http://" + HostPort() + "/?token=" + token_;
  }
  bool loopback() const { return endpoint_.address().is_loopback(); }

  void Accept();
  // The response to a request, or none when it opens an event stream.
  std::optional<Response> Handle(const Request& request, bool* stream);

  RunView& view_;
  const OnControl on_control_;
  const std::string token_;
  asio::io_context io_;
  tcp::acceptor acceptor_{io_};
  tcp::endpoint endpoint_;
  std::thread thread_;
  std::atomic<int> streams_{0};  // event streams open

 private:
  bool HostAllowed(std::string_view host) const;
  Response Reply(const Request& request, http::status status, std::string body,
                 const char* type = "text/plain") const;
  Response Page(const Request& request) const;
};

namespace {

// One connection: its requests one after another, or an event stream.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(WebServer::Impl& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)), timer_(server.io_) {}

  void Read() {
    parser_.emplace();
    parser_->header_limit(kRequestLimit);
    parser_->body_limit(kRequestLimit);
    stream_.expires_after(kRequestTime);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, std::size_t) {
          if (!error) self->Answer();
        });
  }

 private:
  void Answer() {
    const Request request = parser_->release();
    bool stream = false;
    std::optional<Response> response = server_.Handle(request, &stream);
    if (stream) return OpenStream();
    auto shared = std::make_shared<Response>(std::move(*response));
    http::async_write(stream_, *shared,
                      [self = shared_from_this(), shared](
                          beast::error_code error, std::size_t) {
                        if (!error && shared->keep_alive()) self->Read();
                      });
  }

  void OpenStream() {
    stream_.expires_never();
    ++server_.streams_;
    streaming_ = true;
    auto head = std::make_shared<std::string>(
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
        "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
        "Connection: close\r\n\r\n");
    asio::async_write(stream_, asio::buffer(*head),
                      [self = shared_from_this(), head](beast::error_code error,
                                                        std::size_t) {
                        if (!error) self->Send();
                      });
  }

  // Every batch interval: what changed, or now and then a comment that
  // keeps the connection; after the run's end the stream closes.
  void Send() {
    nlohmann::ordered_json changes = server_.view_.Changes(&version_);
    auto out = std::make_shared<std::string>();
    if (!changes.is_null()) {
      *out = "data: " + ScriptJson(changes) + "\n\n";
      quiet_ = 0;
    } else if (++quiet_ >= kKeepAliveBatches) {
      *out = ": still running\n\n";
      quiet_ = 0;
    }
    const bool last = !changes.is_null() && !changes["ended_ms"].is_null();
    asio::async_write(
        stream_, asio::buffer(*out),
        [self = shared_from_this(), out, last](beast::error_code error,
                                               std::size_t) {
          if (error || last) return self->Close();
          self->timer_.expires_after(kBatchEvery);
          self->timer_.async_wait([self](beast::error_code waited) {
            if (!waited) self->Send();
          });
        });
  }

  void Close() {
    if (streaming_) --server_.streams_;
    streaming_ = false;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  }

  WebServer::Impl& server_;
  beast::tcp_stream stream_;
  asio::steady_timer timer_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::uint64_t version_ = 0;
  int quiet_ = 0;
  bool streaming_ = false;
};

}  // namespace

bool WebServer::Impl::Listen(const WebAddress& where, std::string* error) {
  beast::error_code failed;
  const asio::ip::address address =
      asio::ip::make_address(where.address, failed);
  if (failed) {
    *error = "--web: not an address: " + where.address;
    return false;
  }
  const tcp::endpoint endpoint(address, where.port);
  acceptor_.open(endpoint.protocol(), failed);
#ifndef _WIN32  // there it would let another program take the port
  if (!failed)
    acceptor_.set_option(asio::socket_base::reuse_address(true), failed);
#endif
  if (!failed) acceptor_.bind(endpoint, failed);
  if (!failed)
    acceptor_.listen(asio::socket_base::max_listen_connections, failed);
  if (failed) {
    *error = "--web: cannot listen on " + where.address + ":" +
             std::to_string(where.port) + ": " + failed.message();
    return false;
  }
  endpoint_ = acceptor_.local_endpoint();
  Accept();
  return true;
}

void WebServer::Impl::Accept() {
  acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted) return;
    if (!error) std::make_shared<Session>(*this, std::move(socket))->Read();
    Accept();
  });
}

// The bound address, or a loopback name for a loopback one: a page that a
// DNS name rebound to this machine sends its own name and is refused.
bool WebServer::Impl::HostAllowed(std::string_view host) const {
  const std::string port = ":" + std::to_string(endpoint_.port());
  if (host == HostPort()) return true;
  if (!loopback()) return false;
  for (const char* name : {"localhost", "127.0.0.1", "[::1]"}) {
    if (host == name + port) return true;
  }
  return false;
}

Response WebServer::Impl::Reply(const Request& request, http::status status,
                                std::string body, const char* type) const {
  Response response(status, request.version());
  response.set(http::field::content_type, type);
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("Referrer-Policy", "no-referrer");
  response.set("Content-Security-Policy", kPolicy);
  response.set("X-Frame-Options", "DENY");
  response.keep_alive(request.keep_alive());
  response.body() = std::move(body);
  response.prepare_payload();
  return response;
}

Response WebServer::Impl::Page(const Request& request) const {
  return Reply(request, http::status::ok, PageHtml(view_.Snapshot(), token_),
               "text/html; charset=utf-8");
}

std::optional<Response> WebServer::Impl::Handle(const Request& request,
                                                bool* stream) {
  const auto refused = [&](const char* why) {
    return Reply(request, http::status::forbidden, std::string(why) + "\n");
  };
  if (!HostAllowed(View(request[http::field::host])))
    return refused("this server answers its own address only");
  const std::string_view target = View(request.target());
  const bool get = request.method() == http::verb::get;
  // The printed address: the token goes into a cookie, and away from the
  // address bar.
  if (get && target.starts_with("/?token=")) {
    if (!SameSecret(target.substr(8), token_))
      return refused("this page needs the address hj5-update printed");
    Response moved = Reply(request, http::status::see_other, "");
    moved.set(http::field::location, "/");
    moved.set(http::field::set_cookie,
              "hj5_token=" + token_ + "; HttpOnly; SameSite=Strict; Path=/");
    return moved;
  }
  if (!SameSecret(CookieValue(View(request[http::field::cookie]), "hj5_token"),
                  token_))
    return refused("this page needs the address hj5-update printed");
  if (get && target == "/") return Page(request);
  if (get && target == "/events") {
    *stream = true;
    return std::nullopt;
  }
  if (get && target.starts_with("/devices/") && target.ends_with("/events")) {
    const std::optional<std::size_t> index =
        Index(target.substr(9, target.size() - 16));
    if (!index || *index >= view_.devices())
      return Reply(request, http::status::not_found, "no such device\n");
    return Reply(request, http::status::ok, ScriptJson(view_.Events(*index)),
                 "application/json");
  }
  if (target == "/stop") {
    if (request.method() != http::verb::post)
      return Reply(request, http::status::method_not_allowed, "POST only\n");
    if (!SameSecret(View(request["X-HJ5-Token"]), token_))
      return refused("a control needs the token in X-HJ5-Token");
    if (View(request[http::field::origin]) !=
        "http://" + std::string(View(request[http::field::host])))
      return refused("a control is taken from this page only");
    if (request.body() != "drain" && request.body() != "restore")
      return Reply(request, http::status::bad_request, "drain or restore\n");
    on_control_(request.body() == "drain" ? Control::kDrain
                                          : Control::kRestore);
    return Reply(request, http::status::accepted, "{\"ok\":true}\n",
                 "application/json");
  }
  return Reply(request, http::status::not_found, "not found\n");
}

std::optional<WebAddress> ParseWebAddress(std::string_view text,
                                          std::string* error) {
  WebAddress where;
  std::string_view port = text;
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos) {
    std::string_view host = text.substr(0, colon);
    if (host.starts_with('[') && host.ends_with(']'))
      host = host.substr(1, host.size() - 2);
    where.address = host;
    where.named = true;
    port = text.substr(colon + 1);
  }
  const std::optional<std::uint16_t> number =
      port == "0" ? std::optional<std::uint16_t>(0) : fleet::ParsePort(port);
  if (!number || where.address.empty()) {
    *error = "--web: not [ADDR:]PORT: " + std::string(text);
    return std::nullopt;
  }
  where.port = *number;
  return where;
}

WebServer::WebServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebServer::~WebServer() { impl_->Stop(); }

std::unique_ptr<WebServer> WebServer::Start(const WebAddress& where,
                                            RunView& view, OnControl on_control,
                                            std::string* error) {
  auto impl = std::make_unique<Impl>(view, std::move(on_control));
  if (!impl->Listen(where, error)) return nullptr;
  impl->Run();
  return std::unique_ptr<WebServer>(new WebServer(std::move(impl)));
}

std::string WebServer::Url() const { return impl_->Url(); }
bool WebServer::loopback() const { return impl_->loopback(); }

}  // namespace hj5::cli::web

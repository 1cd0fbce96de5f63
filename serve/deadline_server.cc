#include "deadline_server.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kReadBuffer = 4096;
// How often a connection waiting for its next request looks whether the
// server is stopping.
constexpr milliseconds kStopCheck{100};

milliseconds ToMilliseconds(time_t sec, time_t usec) { return milliseconds(sec * 1000 + usec / 1000); }

// poll() for `events` at most `wait`; > 0 ready, 0 timed out, < 0 failed.
int PollFor(int sock, short events, milliseconds wait) {
  pollfd p{sock, events, 0};
  const int ms = static_cast<int>(std::clamp<milliseconds::rep>(wait.count(), 0, 1 << 30));
  int n;
  do {
    n = poll(&p, 1, ms);
  } while (n < 0 && errno == EINTR);
  return n;
}

// The numeric address and port of either end of `sock`.
void AddressOf(int sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  auto* sa = reinterpret_cast<sockaddr*>(&addr);
  if ((peer ? getpeername(sock, sa, &len) : getsockname(sock, sa, &len)) != 0) return;
  char host[NI_MAXHOST];
  char serv[NI_MAXSERV];
  if (getnameinfo(sa, len, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0) return;
  ip = host;
  port = std::atoi(serv);
}

}  // namespace

// The connection's socket as the library reads and writes it: reads wait at
// most the read timeout for each byte and never past the request's
// deadline; writes wait at most the write timeout. Bytes read ahead stay
// buffered for the next request on the connection.
class DeadlineServer::ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(int sock, milliseconds read_timeout, milliseconds write_timeout)
      : sock_(sock), read_timeout_(read_timeout), write_timeout_(write_timeout) {}

  // Starts the next request, which must be read whole by `deadline`.
  void StartRequest(Clock::time_point deadline) {
    deadline_ = deadline;
    late_ = false;
  }
  // Whether a read failed because the request's deadline had passed.
  bool late() const { return late_; }
  // Whether bytes of a next request are already read.
  bool buffered() const { return begin_ < end_; }

  bool is_readable() const override { return buffered() || WaitReadable(); }
  bool is_writable() const override { return PollFor(sock_, POLLOUT, write_timeout_) > 0; }

  ssize_t read(char* ptr, size_t size) override {
    if (!buffered()) {
      if (!WaitReadable()) return -1;
      if (size >= kReadBuffer) return Receive(ptr, size);
      const ssize_t n = Receive(buffer_, kReadBuffer);
      if (n <= 0) return n;
      begin_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do {
      n = send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { AddressOf(sock_, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { AddressOf(sock_, false, ip, port); }
  socket_t socket() const override { return sock_; }

 private:
  // Waits for a byte at most the read timeout, and not past the deadline
  // (noting `late_` when it is the deadline that ends the wait).
  // The wait is rounded up to whole milliseconds, and it is the deadline
  // that ended it whenever the deadline was the shorter bound: a clock read
  // after the wait could still fall a fraction of a millisecond short of it.
  bool WaitReadable() const {
    const auto left = std::chrono::ceil<milliseconds>(deadline_ - Clock::now());
    const bool deadline_first = left <= read_timeout_;
    const int n = PollFor(sock_, POLLIN, deadline_first ? std::max(left, milliseconds(0)) : read_timeout_);
    if (n == 0 && deadline_first) late_ = true;
    return n > 0;
  }

  ssize_t Receive(char* ptr, size_t size) {
    ssize_t n;
    do {
      n = recv(sock_, ptr, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  const int sock_;
  const milliseconds read_timeout_;
  const milliseconds write_timeout_;
  Clock::time_point deadline_ = Clock::time_point::max();
  mutable bool late_ = false;  // set by a wait, which the library calls through const
  char buffer_[kReadBuffer];
  size_t begin_ = 0;  // the unread bytes of buffer_ are [begin_, end_)
  size_t end_ = 0;
};

DeadlineServer& DeadlineServer::set_request_timeout(milliseconds limit) {
  request_timeout_ = limit;
  return *this;
}

DeadlineServer& DeadlineServer::set_late_request_handler(LateRequestHandler handler) {
  late_request_handler_ = std::move(handler);
  return *this;
}

bool DeadlineServer::WaitForNextRequest(const ConnectionStream& stream) const {
  if (stream.buffered()) return true;
  const auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
  while (svr_sock_ != INVALID_SOCKET) {
    const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
    if (left <= milliseconds(0)) return false;
    const int n = PollFor(stream.socket(), POLLIN, std::min(left, kStopCheck));
    if (n != 0) return n > 0;
  }
  return false;
}

// The library's loop over the requests of a connection, with each request's
// deadline set before it is read. A late request ends the connection even
// when the library could still answer it (with a 400).
bool DeadlineServer::process_and_close_socket(socket_t sock) {
  ConnectionStream stream(sock, ToMilliseconds(read_timeout_sec_, read_timeout_usec_),
                          ToMilliseconds(write_timeout_sec_, write_timeout_usec_));
  auto start = Clock::now();
  bool ok = false;
  for (size_t left = keep_alive_max_count_; left > 0 && WaitForNextRequest(stream); --left) {
    if (left != keep_alive_max_count_) start = Clock::now();
    stream.StartRequest(request_timeout_ > milliseconds(0) ? start + request_timeout_ : Clock::time_point::max());
    bool closed = false;
    ok = process_request(stream, left == 1, closed, nullptr);
    if (stream.late()) {
      if (late_request_handler_) {
        std::string ip;
        int port = 0;
        stream.get_remote_ip_and_port(ip, port);
        late_request_handler_(ip);
      }
      break;
    }
    if (!ok || closed) break;
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  return ok;
}

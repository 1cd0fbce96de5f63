#include "service.h"

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "deadline_server.h"
#include "escape.h"
#include "responses.h"
#include "routes.h"
#include "thread_start.h"

namespace {

constexpr size_t kMaxRequestBody = size_t{64} << 10;
constexpr size_t kKeepAliveRequests = 1000;
constexpr int kListenQueue = 1024;

// Workers for the connections: one thread per connection served, at most
// `threads` at once. A connection that finds every worker busy waits, and
// the accepting thread waits with it, so the kernel's queue holds the rest.
// Threads the system refuses (a limit on processes or on memory for their
// stacks) leave the connections to those it started; with none, each
// connection is served on the accepting thread, one at a time.
class BoundedPool : public httplib::TaskQueue {
 public:
  explicit BoundedPool(size_t threads) {
    StartThreadsAllowed(threads, &workers_, [this](size_t) { Work(); });
  }
  // The workers started, at most the threads asked for.
  size_t started() const { return workers_.size(); }
  void enqueue(std::function<void()> fn) override {
    if (workers_.empty()) return fn();
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [&] { return jobs_.size() < idle_ || stopping_; });
    jobs_.push_back(std::move(fn));
    ready_.notify_one();
  }
  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    room_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      ++idle_;
      room_.notify_one();
      ready_.wait(lock, [&] { return !jobs_.empty() || stopping_; });
      --idle_;
      if (jobs_.empty()) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable ready_;  // a job waits
  std::condition_variable room_;   // a worker is idle
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> workers_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace

struct Service::Impl {
  ServiceOptions options;
  int listen_fd = -1;  // the listening socket, once bound
  std::unique_ptr<FormRegistry> registry;
  Utf8Converter converter;
  ServiceState state;
  DeadlineServer server;
  int port = 0;
  std::mutex log_mutex;
  std::mutex stop_mutex;
  std::condition_variable stop_signal;
  bool stopping = false;
  std::thread watcher;

  void Log(const std::string& line) {
    if (options.access_log == nullptr) return;
    std::lock_guard<std::mutex> lock(log_mutex);
    std::fwrite(line.data(), 1, line.size(), options.access_log);
    std::fflush(options.access_log);
  }

  void LogRequest(const httplib::Request& req, const httplib::Response& res) {
    const std::string size = res.content_provider_ ? "-" : std::to_string(res.body.size());
    Log("query-serve: " + Timestamp() + " " + req.remote_addr + " \"" + EscapeControlBytes(req.method) + " " +
        EscapeControlBytes(req.target.substr(0, 2048)) + "\" " + std::to_string(res.status) + " " + size + "\n");
  }

  // Reloads changed forms every interval until the service stops.
  void Watch() {
    std::unique_lock<std::mutex> lock(stop_mutex);
    while (!stop_signal.wait_for(lock, std::chrono::milliseconds(options.reload_interval_ms),
                                 [&] { return stopping; })) {
      lock.unlock();
      std::vector<std::string> messages;
      registry->Refresh(&messages);
      for (const std::string& m : messages) Log("query-serve: " + EscapeControlBytes(m) + "\n");
      lock.lock();
    }
  }

  void Configure() {
    state.registry = registry.get();
    state.converter = &converter;
    state.encoding = options.encoding;
    const size_t threads = static_cast<size_t>(options.max_connections);
    server.new_task_queue = [this, threads] {
      auto* pool = new BoundedPool(threads);
      if (pool->started() < threads)
        Log("query-serve: the system refused threads: serving " +
            (pool->started() == 0 ? std::string("one connection at a time")
                                  : std::to_string(pool->started()) + " of " + std::to_string(threads) +
                                        " connections at once") +
            "\n");
      return pool;
    };
    server.set_read_timeout(options.io_timeout_seconds, 0);
    server.set_write_timeout(options.io_timeout_seconds, 0);
    server.set_keep_alive_timeout(options.io_timeout_seconds);
    server.set_request_timeout(std::chrono::seconds(options.request_timeout_seconds));
    server.set_late_request_handler([this](const std::string& remote_addr) {
      Log("query-serve: " + Timestamp() + " " + remote_addr + " sent no whole request within " +
          std::to_string(options.request_timeout_seconds) + " s; connection closed\n");
    });
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.set_payload_max_length(kMaxRequestBody);
    server.set_tcp_nodelay(true);
    // The library's own options, and the listening socket noted so that its
    // queue can be lengthened once it listens.
    server.set_socket_options([this](socket_t sock) {
      httplib::default_socket_options(sock);
      if (listen_fd < 0) listen_fd = sock;
    });
    server.set_default_headers({{"Content-Security-Policy", kContentSecurityPolicy},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "DENY"}});
    server.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
      // No exception's text reaches the client; the request is refused as
      // one the service cannot answer now.
      const bool api = req.path.rfind("/api/", 0) == 0;
      const RequestError error{503, "unavailable", "the service cannot answer this request now"};
      api ? SendJsonError(error, &res) : SendHtmlError(error, &res);
    });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) { LogRequest(req, res); });
    InstallRoutes(&server, &state);
  }
};

Service::Service(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Service::~Service() {
  Stop(0);
  if (impl_->watcher.joinable()) impl_->watcher.join();
}

Status Service::Start(const ServiceOptions& options, std::unique_ptr<FormRegistry> registry,
                      std::unique_ptr<Service>* service) {
  auto impl = std::make_unique<Impl>();
  impl->options = options;
  impl->registry = std::move(registry);
  Status s = Utf8Converter::Make(options.encoding, &impl->converter);
  if (!s.ok()) return s;
  impl->Configure();
  const std::string address = options.host + ":" + std::to_string(options.port);
  if (options.port == 0) {
    impl->port = impl->server.bind_to_any_port(options.host);
    if (impl->port <= 0) return Status::Error("cannot listen on " + options.host + ": no free port");
  } else if (!impl->server.bind_to_port(options.host, options.port)) {
    return Status::Error("cannot listen on " + address + " (in use, or not an address of this machine)");
  } else {
    impl->port = options.port;
  }
  // The library listens with a queue of 5: a burst of connections (a page
  // and its style sheet and script, from many browsers) would lose SYNs and
  // wait a second each. Listening again on the socket lengthens its queue.
  if (impl->listen_fd >= 0) listen(impl->listen_fd, kListenQueue);
  service->reset(new Service(std::move(impl)));
  Impl* started = (*service)->impl_.get();
  started->watcher = std::thread([started] { started->Watch(); });
  return Status::Ok();
}

int Service::port() const { return impl_->port; }

void Service::Run() { impl_->server.listen_after_bind(); }

void Service::Stop(int drain_seconds) {
  {
    std::lock_guard<std::mutex> lock(impl_->stop_mutex);
    impl_->stopping = true;
  }
  impl_->stop_signal.notify_all();
  // The library cuts streams that are still running when it stops, so the
  // streamed responses in flight are let finish first.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(drain_seconds);
  while (impl_->state.streams.load() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  impl_->server.stop();
}

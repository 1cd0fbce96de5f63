// The service over HTTP, in this process, against the built query's own
// output: every format, the pages' escaping, bad requests, and a store that
// grows, changes and disappears under it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "list_page.h"
#include "service.h"
#include "store_gen.h"
#include "test_store.h"
#include "test_util.h"

namespace {

// Writes a generated invoice store of `documents` into `dir`; "" or why not.
std::string GenerateStore(const std::string& dir, int documents, int clients, int articles) {
  StoreParams params;
  params.documents = documents;
  params.clients = clients;
  params.articles = articles;
  StoreStats stats;
  std::string error;
  return WriteStore(params, dir, &stats, &error) ? "" : error;
}

// A service on a free loopback port over the forms of `dir`.
class RunningService {
 public:
  explicit RunningService(const std::string& dir, std::vector<std::string> forms = {"fac"},
                          int request_timeout_seconds = 10) {
    std::unique_ptr<FormRegistry> registry;
    std::vector<std::string> warnings;
    Status s = FormRegistry::Open(dir, forms, &registry, &warnings);
    EXPECT_TRUE(s.ok()) << s.message();
    ServiceOptions options;
    options.port = 0;
    options.access_log = nullptr;
    options.reload_interval_ms = 50;
    options.max_connections = 8;
    options.request_timeout_seconds = request_timeout_seconds;
    s = Service::Start(options, std::move(registry), &service_);
    EXPECT_TRUE(s.ok()) << s.message();
    thread_ = std::thread([this] { service_->Run(); });
  }
  ~RunningService() {
    service_->Stop(5);
    thread_.join();
  }
  int port() const { return service_->port(); }
  httplib::Result Get(const std::string& target) {
    httplib::Client client("127.0.0.1", service_->port());
    client.set_read_timeout(30, 0);
    return client.Get(target.c_str());
  }

 private:
  std::unique_ptr<Service> service_;
  std::thread thread_;
};

std::string RowsTarget(const std::vector<std::string>& arguments, const std::string& format) {
  std::string target = "/api/fac/rows?format=" + format;
  for (const std::string& a : arguments) {
    target += "&arg=";
    for (char c : a) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      target += hex;
    }
  }
  return target;
}

// `query [--format=F] fac ARGS` in `dir`, its standard output.
std::string QueryOutput(const std::string& dir, const std::vector<std::string>& arguments, const std::string& format) {
  std::vector<std::string> command;
  if (format != "text") command.push_back("--format=" + format);
  command.push_back("fac");
  command.insert(command.end(), arguments.begin(), arguments.end());
  RunResult run = RunQueryIn(dir, command);
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

const std::vector<std::vector<std::string>> kQuestions = {
    {"h00;", "h01;", "d01;", "d04;"},          // every line
    {"h00;*", "h01|", "d02 ", "h06"},          // '*' accepts everything
    {"h00;000105"},                            // the key shortcut
    {"h00;", "d01;tor", "d04;", "h00;"},       // a search, a repeated id
    {"h01;acme", "d00;"},                      // a key field searched
    {"d01;", "h02;", "h06;"},                  // detail first, derived, calculated
};

void ExpectSameRowsAsQuery(RunningService* service, const std::string& dir) {
  for (const auto& question : kQuestions) {
    for (const std::string format : {"text", "json", "csv"}) {
      auto res = service->Get(RowsTarget(question, format));
      ASSERT_TRUE(res) << format;
      EXPECT_EQ(res->status, 200);
      EXPECT_EQ(res->body, QueryOutput(dir, question, format)) << format << " " << question[0];
    }
  }
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(WriteHostileStore(QUERY_EXAMPLES_DIR, store_.path(), &error)) << error;
  }
  TempDir store_;
};

TEST_F(ServiceTest, RowsInEveryFormatAreTheQuerysOwn) {
  RunningService service(store_.path());
  ExpectSameRowsAsQuery(&service, store_.path());
  // A division by zero, and every client name of the hostile store.
  EXPECT_EQ(service.Get(RowsTarget({"h00;", "h07|", "h01"}, "text"))->body,
            QueryOutput(store_.path(), {"h00;", "h07|", "h01"}, "text"));
}

TEST(GeneratedStore, RowsInEveryFormatAreTheQuerysOwn) {
  TempDir dir;
  ASSERT_EQ(GenerateStore(dir.path(), 3000, 300, 500), "");
  RunningService service(dir.path());
  ExpectSameRowsAsQuery(&service, dir.path());
}

TEST_F(ServiceTest, QueryRefusesAnUnknownFormatAndKeepsTextAsItWas) {
  RunResult bad = RunQueryIn(store_.path(), {"--format=xml", "fac", "h00;"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "query: --format must be text, json or csv, not 'xml'\n");
  EXPECT_EQ(QueryOutput(store_.path(), {"h00;", "d01;"}, "text"),
            RunQueryIn(store_.path(), {"--format=text", "fac", "h00;", "d01;"}).out);
}

TEST_F(ServiceTest, JsonLinesAreValidUtf8WithEveryAskedFieldById) {
  RunningService service(store_.path());
  auto res = service.Get(RowsTarget({"h00;", "h01;", "d00", "h01;"}, "json"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Content-Type"), "application/x-ndjson; charset=utf-8");
  std::istringstream lines(res->body);
  std::string line;
  int rows = 0;
  bool saw_accents = false;
  while (std::getline(lines, line)) {
    const auto row = nlohmann::json::parse(line);  // throws on invalid UTF-8
    ASSERT_TRUE(row.contains("h00") && row.contains("h01") && row.contains("d00") && row.contains("h01#2"));
    saw_accents |= row["h01"].get<std::string>().find(kAccentedNameUtf8) != std::string::npos;
    ++rows;
  }
  EXPECT_GT(rows, 12);
  EXPECT_TRUE(saw_accents);
}

TEST_F(ServiceTest, HeaderOnlyRecordsGiveNullForDetailFields) {
  RunningService service(store_.path());
  // Invoice 000105 has no lines: its detail field prints nothing.
  auto res = service.Get(RowsTarget({"h00;000105", "d01;"}, "json"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, "{\"h00\":\"000105\",\"d01\":null}\n");
}

TEST_F(ServiceTest, CsvDefusesAStoredFormula) {
  RunningService service(store_.path());
  auto res = service.Get(RowsTarget({"h00;000105", "h02;"}, "csv"));
  ASSERT_TRUE(res);
  auto doc = service.Get(RowsTarget({"h01;c00004"}, "csv"));
  ASSERT_TRUE(doc);
  EXPECT_NE(doc->body.find("C00004|=HYPERLINK"), std::string::npos) << "the key comes first";
  // A cell that begins with the formula itself is quoted with an apostrophe.
  auto name = service.Get("/api/fac/doc/000105");
  ASSERT_TRUE(name);
  EXPECT_NE(name->body.find("=HYPERLINK(\\\"x\\\")"), std::string::npos);
}

TEST_F(ServiceTest, SearchesTypedInUtf8FindTheStoresBytes) {
  RunningService service(store_.path());
  auto res = service.Get("/api/fac/rows?arg=h00;&arg=d01;CA%C3%B1er%C3%ADa&format=csv");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, "h00,d01\r\n000101,Tuerca Nº4 cañería      \r\n000109,Tuerca Nº4 cañería      \r\n");
  auto page = service.Get("/fac?d01=CA%C3%B1er%C3%ADa");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("Page 1: 2 documents"), std::string::npos);
  EXPECT_NE(page->body.find("value=\"CAñería\""), std::string::npos);
}

TEST_F(ServiceTest, PagesShowStoredMarkupAsText) {
  RunningService service(store_.path());
  for (const std::string target : {"/fac", "/fac/doc/000103", "/fac?h01=script", "/fac/doc/000107"}) {
    auto res = service.Get(target);
    ASSERT_TRUE(res) << target;
    EXPECT_EQ(res->status, 200) << target;
    EXPECT_EQ(res->body.find("<script>pwned"), std::string::npos) << target;
    EXPECT_EQ(res->body.find('\x1b'), std::string::npos) << target;
    EXPECT_EQ(res->body.find('\x07'), std::string::npos) << target;
    EXPECT_NE(res->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
  }
  auto list = service.Get("/fac");
  EXPECT_NE(list->body.find("&lt;script&gt;pwned=1&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(list->body.find("Ferretería Nuñez &amp; &quot;Q&quot;"), std::string::npos);
  auto doc = service.Get("/fac/doc/000102");
  EXPECT_NE(doc->body.find("1.250,00") == std::string::npos ? doc->body.find("95,50") : 0u, std::string::npos);
}

TEST_F(ServiceTest, ListPagesContinueWhereThePreviousStopped) {
  TempDir dir;
  ASSERT_EQ(GenerateStore(dir.path(), 180, 50, 50), "");
  RunningService service(dir.path());
  auto first = service.Get("/fac");
  ASSERT_TRUE(first);
  EXPECT_NE(first->body.find(InvoiceNumber(0)), std::string::npos);
  EXPECT_EQ(first->body.find(InvoiceNumber(50)), std::string::npos);
  EXPECT_NE(first->body.find("Page 1: 50 documents"), std::string::npos);
  // The next page starts at record 50, as its token says.
  EXPECT_NE(first->body.find("?p=0.50\""), std::string::npos);
  auto second = service.Get("/fac?p=0.50");
  ASSERT_TRUE(second);
  EXPECT_NE(second->body.find(InvoiceNumber(50)), std::string::npos);
  EXPECT_EQ(second->body.find(">" + InvoiceNumber(49) + "<"), std::string::npos);
  EXPECT_NE(second->body.find("records from 50 examined: 50 of 180"), std::string::npos);
  EXPECT_NE(second->body.find("rel=\"prev\" accesskey=\"p\" href=\"/fac\""), std::string::npos);
  auto last = service.Get("/fac?p=0.50.100.150");
  EXPECT_NE(last->body.find("Page 4: 30 documents"), std::string::npos);
  EXPECT_EQ(last->body.find("rel=\"next\""), std::string::npos);
}

TEST(ListPage, ALongSearchShowsTheRecordsExaminedAsItGoes) {
  TempDir dir;
  ASSERT_EQ(GenerateStore(dir.path(), 5000, 50, 50), "");
  std::unique_ptr<FormRegistry> registry;
  std::vector<std::string> warnings;
  ASSERT_TRUE(FormRegistry::Open(dir.path(), {"fac"}, &registry, &warnings).ok());
  Utf8Converter converter;
  ASSERT_TRUE(Utf8Converter::Make(TextEncoding::kCp437, &converter).ok());
  auto reader = std::make_unique<RecordReader>();
  ASSERT_TRUE(reader->Open(*registry->Find("fac")->engine).ok());
  // A search nothing matches, with progress due after every step.
  Selection selection({MakeQueryArgument('h', 0, '\0', ""), MakeQueryArgument('d', 1, '\0', "no such text")});
  ListPageStream page(registry->Find("fac"), std::move(reader), std::move(selection), ListQuery{}, &converter,
                      std::chrono::milliseconds(0));
  std::vector<std::string> parts;
  std::string part;
  while (page.Next(&part)) {
    parts.push_back(part);
    part.clear();
  }
  parts.push_back(part);
  // The head, a progress row after each step of 2,048 records, the end.
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_NE(parts[1].find("Searching… 2.048 records examined"), std::string::npos) << parts[1];
  EXPECT_NE(parts[2].find("Searching… 4.096 records examined"), std::string::npos) << parts[2];
  EXPECT_NE(parts[3].find("0 documents; records from 0 examined: 5.000 of 5.000"), std::string::npos);
}

TEST_F(ServiceTest, BadRequestsGetA4xxNamingWhatIsWrong) {
  RunningService service(store_.path());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/api/nope/rows?arg=h00;", "unknown form"},
      {"/api/fac/rows", "bad argument"},
      {"/api/fac/rows?arg=z00;", "bad argument"},
      {"/api/fac/rows?arg=h99;", "bad argument"},
      {"/api/fac/rows?arg=h00;&format=xml", "bad format"},
      {"/api/fac/doc/999999", "unknown document"},
      {"/api/..%2F..%2Fetc%2Fpasswd/rows?arg=h00;", "not found"},
      {"/api/fac/other", "not found"},
      {"/fac?p=12.x", "bad page token"},
      {"/fac?p=9.3", "bad page token"},
      {"/fac/doc/none", "unknown document"},
      {"/..%2Fetc%2Fpasswd", "not found"},
      {"/fac.0", "unknown form"},
      {"/fac/record/99999", "unknown document"},
  };
  for (const auto& [target, error] : cases) {
    auto res = service.Get(target);
    ASSERT_TRUE(res) << target;
    EXPECT_GE(res->status, 400) << target;
    EXPECT_LT(res->status, 500) << target;
    EXPECT_NE(res->body.find(error), std::string::npos) << target << ": " << res->body;
    if (target.rfind("/api/", 0) == 0) {
      EXPECT_TRUE(nlohmann::json::accept(res->body)) << target;
    }
  }
  auto too_long = service.Get("/api/fac/rows?arg=" + std::string(9000, 'a'));
  ASSERT_TRUE(too_long);
  EXPECT_GE(too_long->status, 400);
  EXPECT_LT(too_long->status, 500);
}

std::string InfoFor(int count) {
  char text[16];
  std::snprintf(text, sizeof text, "%12d", count);
  return text;
}

template <typename F>
bool Eventually(F done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

TEST_F(ServiceTest, AStoreThatGrowsIsSeenByTheNextRequest) {
  store_.Write("INFO", InfoFor(10));
  RunningService service(store_.path());
  const std::string ten = QueryOutput(store_.path(), {"h00;"}, "text");
  EXPECT_EQ(service.Get(RowsTarget({"h00;"}, "text"))->body, ten);
  EXPECT_EQ(service.Get("/api/fac/doc/000112")->status, 404);
  store_.Write("INFO", InfoFor(12));
  const std::string twelve = QueryOutput(store_.path(), {"h00;"}, "text");
  ASSERT_NE(ten, twelve);
  EXPECT_EQ(service.Get(RowsTarget({"h00;"}, "text"))->body, twelve);
  auto doc = service.Get("/api/fac/doc/000112");
  EXPECT_EQ(doc->status, 200) << "a new record is found by its key at once";
}

TEST_F(ServiceTest, AChangedFormIsReloadedWhole) {
  RunningService service(store_.path());
  EXPECT_NE(service.Get("/fac/doc/000101")->body.find("FACTURA"), std::string::npos);
  std::string mask = store_.Read("fac.0");
  mask.replace(mask.find("FACTURA"), 7, "INVOICE");
  store_.Write("fac.0", mask);
  EXPECT_TRUE(Eventually([&] { return service.Get("/fac/doc/000101")->body.find("INVOICE") != std::string::npos; }));
}

TEST_F(ServiceTest, AFormThatFailsToLoadAgainLeavesTheLastOneServing) {
  RunningService service(store_.path());
  const std::string expected = QueryOutput(store_.path(), {"h00;", "d01;"}, "text");
  const std::string form = store_.Read("fac");
  store_.Write("fac", "9 4 5 0\n1 1 6");  // cut short, as while it is written
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // six reload rounds
  EXPECT_EQ(service.Get(RowsTarget({"h00;", "d01;"}, "text"))->body, expected);
  EXPECT_EQ(service.Get("/fac/doc/000101")->status, 200);
  store_.Write("fac", form);
  std::string mask = store_.Read("fac.0");
  mask.replace(mask.find("FACTURA"), 7, "INVOICE");
  store_.Write("fac.0", mask);
  EXPECT_TRUE(Eventually([&] { return service.Get("/fac/doc/000101")->body.find("INVOICE") != std::string::npos; }));
  EXPECT_EQ(service.Get(RowsTarget({"h00;", "d01;"}, "text"))->body, expected);
}

TEST_F(ServiceTest, AStoreThatDisappearsGives503UntilItIsBack) {
  RunningService service(store_.path());
  ASSERT_EQ(rename(store_.File("INFO").c_str(), store_.File("INFO.away").c_str()), 0);
  auto gone = service.Get(RowsTarget({"h00;"}, "json"));
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->status, 503);
  EXPECT_NE(gone->body.find("store unavailable"), std::string::npos);
  EXPECT_EQ(service.Get("/fac")->status, 503);
  ASSERT_EQ(rename(store_.File("INFO.away").c_str(), store_.File("INFO").c_str()), 0);
  auto back = service.Get(RowsTarget({"h00;"}, "text"));
  EXPECT_EQ(back->status, 200);
  EXPECT_EQ(back->body, QueryOutput(store_.path(), {"h00;"}, "text"));
}

TEST_F(ServiceTest, OnlyTheFormsNamedAtStartAreServed) {
  std::unique_ptr<FormRegistry> registry;
  std::vector<std::string> warnings;
  EXPECT_FALSE(FormRegistry::Open(store_.path(), {"../fac"}, &registry, &warnings).ok() &&
               registry->Find("..") != nullptr);
  EXPECT_FALSE(FormRegistry::Open(store_.path(), {"api"}, &registry, &warnings).ok());
  EXPECT_FALSE(FormRegistry::Open(store_.path(), {"fac", "fac"}, &registry, &warnings).ok());
  ASSERT_TRUE(FormRegistry::Open(store_.path(), {"fac"}, &registry, &warnings).ok());
  EXPECT_EQ(registry->Find("fac.0"), nullptr);
  EXPECT_EQ(registry->Find("clients.db"), nullptr);
}


// A client on a plain socket, for requests no HTTP client library sends.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  ~RawClient() { close(fd_); }
  // False once the service has closed the connection.
  bool Send(const std::string& text) { return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size()); }
  // Reads what comes within `wait`; `closed` tells whether the service
  // closed the connection.
  std::string Receive(std::chrono::milliseconds wait, bool* closed) {
    std::string got;
    const auto until = std::chrono::steady_clock::now() + wait;
    *closed = false;
    while (std::chrono::steady_clock::now() < until) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        *closed = true;
        break;
      }
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int fd_;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(ServiceTest, ARequestDrippedByteByByteIsCutOffAtItsDeadline) {
  RunningService service(store_.path(), {"fac"}, 2);
  RawClient client(service.port());
  const std::string request = "GET /fac?q=" + std::string(200, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n";
  const auto start = std::chrono::steady_clock::now();
  bool closed = false;
  for (size_t i = 0; i < request.size() && !closed && SecondsSince(start) < 8; ++i) {
    if (!client.Send(request.substr(i, 1))) break;
    client.Receive(std::chrono::milliseconds(250), &closed);
  }
  if (!closed) client.Receive(std::chrono::milliseconds(500), &closed);
  EXPECT_TRUE(closed);
  const double held = SecondsSince(start);
  EXPECT_GE(held, 1.5);
  EXPECT_LE(held, 3.5);
}

TEST_F(ServiceTest, EachRequestOnAKeptAliveConnectionHasItsOwnDeadline) {
  RunningService service(store_.path(), {"fac"}, 1);
  RawClient client(service.port());
  const std::string request = "GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n";
  bool closed = false;
  // Two requests in one packet are both answered, then the connection idles
  // past the request deadline (not the keep-alive timeout) before a third.
  ASSERT_TRUE(client.Send(request + request));
  EXPECT_EQ(Count(client.Receive(std::chrono::milliseconds(1500), &closed), "HTTP/1.1 204"), 2u);
  ASSERT_FALSE(closed);
  ASSERT_TRUE(client.Send(request));
  EXPECT_EQ(Count(client.Receive(std::chrono::milliseconds(500), &closed), "HTTP/1.1 204"), 1u);
  EXPECT_FALSE(closed);
}

TEST(GeneratedStore, AResponseStreamingLongerThanTheRequestDeadlineArrivesWhole) {
  TempDir dir;
  ASSERT_EQ(GenerateStore(dir.path(), 3000, 300, 500), "");
  RunningService service(dir.path(), {"fac"}, 1);
  const std::vector<std::string> question = {"h00;", "h01;", "d01;", "d04;"};
  httplib::Client client("127.0.0.1", service.port());
  client.set_read_timeout(30, 0);
  std::string body;
  int pauses = 0;
  const auto start = std::chrono::steady_clock::now();
  auto res = client.Get(RowsTarget(question, "text").c_str(), [&](const char* data, size_t size) {
    body.append(data, size);
    if (pauses++ < 6) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return true;
  });
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_GT(SecondsSince(start), 1.5);
  EXPECT_EQ(body, QueryOutput(dir.path(), question, "text"));
}

}  // namespace

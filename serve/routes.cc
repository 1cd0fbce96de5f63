#include "routes.h"

#include <chrono>
#include <memory>
#include <string>

#include "document.h"
#include "document_page.h"
#include "html.h"
#include "list_page.h"
#include "page_shell.h"
#include "reader_cache.h"
#include "request_parse.h"
#include "responses.h"
#include "row_format.h"
#include "row_scan.h"
#include "static_assets.h"

namespace {

using httplib::Request;
using httplib::Response;

// A streamed response flushes once this much is gathered, or when rows
// have waited this long.
constexpr size_t kChunkSize = size_t{16} << 10;
constexpr auto kChunkWait = std::chrono::milliseconds(20);
constexpr int64_t kRecordsPerStep = 256;

const char* kHtml = "text/html; charset=utf-8";

// The form a request names and a reader of its store, or the error that
// stops the request: 404 for a name not served, 503 for a store that
// cannot be opened now.
// A scan opens a reader of its own; a request for one document borrows
// its thread's (reader_cache.h).
enum class ReaderUse { kScan, kDocument };

struct Opened {
  std::shared_ptr<const ServedForm> form;
  std::unique_ptr<RecordReader> owned;  // a scan's own reader
  RecordReader* reader = nullptr;       // owned, or lent
};

bool OpenForm(const ServiceState& state, const std::string& name, ReaderUse use, Opened* opened,
              RequestError* error) {
  opened->form = state.registry->Find(name);
  if (opened->form == nullptr) {
    *error = {404, "unknown form", "no form '" + name + "' is served here"};
    return false;
  }
  Status s;
  if (use == ReaderUse::kDocument) {
    s = LendReader(opened->form, &opened->reader);
  } else {
    opened->owned = std::make_unique<RecordReader>();
    s = opened->owned->Open(*opened->form->engine);
    opened->reader = opened->owned.get();
  }
  if (!s.ok()) {
    *error = {503, "store unavailable", "the store of form '" + name + "' cannot be read now"};
    return false;
  }
  return true;
}

// Counts a streamed response from its start to its release.
void CountStream(ServiceState* state, Response* res, const std::string& type,
                 httplib::ContentProviderWithoutLength provider) {
  ++state->streams;
  res->set_chunked_content_provider(type, std::move(provider), [state](bool) { --state->streams; });
}

// ---- API

struct RowsStream {
  Opened opened;
  Selection selection;
  std::unique_ptr<RowWriter> writer;
  std::unique_ptr<RowScan> scan;
  bool begun = false;

  // Fills `buffer` with the next rows; false on a failed read.
  bool Fill(std::string* buffer) {
    if (!begun) {
      writer->Begin(buffer);
      begun = true;
    }
    const auto start = std::chrono::steady_clock::now();
    while (!scan->done() && buffer->size() < kChunkSize) {
      Status s = scan->Step(kRecordsPerStep, [&](int64_t, int line) {
        writer->Row(opened.reader->values(), line, buffer);
        return RowScan::Next::kContinue;
      });
      if (!s.ok()) return false;
      if (!buffer->empty() && std::chrono::steady_clock::now() - start >= kChunkWait) break;
    }
    return true;
  }
};

const char* RowsContentType(RowFormat format, TextEncoding encoding) {
  switch (format) {
    case RowFormat::kJson: return "application/x-ndjson; charset=utf-8";
    case RowFormat::kCsv: return "text/csv; charset=utf-8; header=present";
    case RowFormat::kText: break;
  }
  switch (encoding) {
    case TextEncoding::kCp437: return "text/plain; charset=IBM437";
    case TextEncoding::kLatin1: return "text/plain; charset=ISO-8859-1";
    case TextEncoding::kUtf8: break;
  }
  return "text/plain; charset=utf-8";
}

void ApiRows(ServiceState* state, const Request& req, Response& res) {
  auto stream = std::make_shared<RowsStream>();
  RequestError error;
  const std::vector<std::string> texts = QueryValues(req.target, "arg");
  const std::string format_text = req.get_param_value("format");
  RowFormat format = RowFormat::kText;
  if (!OpenForm(*state, req.matches[1], ReaderUse::kScan, &stream->opened, &error) ||
      !ParseFormatParameter(req.has_param("format") ? &format_text : nullptr, &format, &error) ||
      !ParseArguments(texts, stream->opened.form->engine->form(), *state->converter, &stream->selection, &error)) {
    return SendJsonError(error, &res);
  }
  stream->writer = std::make_unique<RowWriter>(format, stream->selection.arguments(), state->converter);
  stream->scan = std::make_unique<RowScan>(*stream->opened.form->engine, stream->opened.reader, stream->selection);
  CountStream(state, &res, RowsContentType(format, state->encoding), [stream](size_t, httplib::DataSink& sink) {
    std::string buffer;
    // A read that fails ends the stream without its last chunk, so the
    // client sees a broken transfer rather than a short result.
    if (!stream->Fill(&buffer)) return false;
    if (!buffer.empty() && !sink.write(buffer.data(), buffer.size())) return false;
    if (stream->scan->done()) sink.done();
    return true;
  });
}

// Finds the document a key names; fills the error when none.
bool FindByKey(const ServiceState& state, const Opened& opened, const std::string& text, int64_t* n, bool* read,
               RequestError* error) {
  std::string key;
  if (!KeyFromUrl(text, *state.converter, &key, error)) return false;
  *n = FindDocument(*opened.form, opened.reader, key, read);
  if (*n >= 0) return true;
  *error = {404, "unknown document", "no document has the key '" + text + "'"};
  return false;
}

void ApiDocument(ServiceState* state, const Request& req, Response& res) {
  Opened opened;
  RequestError error;
  int64_t n = -1;
  bool read = false;
  if (!OpenForm(*state, req.matches[1], ReaderUse::kDocument, &opened, &error) ||
      !FindByKey(*state, opened, req.matches[2], &n, &read, &error))
    return SendJsonError(error, &res);
  RecordReader::Outcome outcome;
  Status s;
  if (!read && (!ReadDocument(opened.reader, n, &outcome, &s) || !s.ok()))
    return SendJsonError({503, "store unavailable", "the document cannot be read now"}, &res);
  res.set_content(DocumentJson(*opened.form, *opened.reader, n, *state->converter), "application/json");
}

// ---- Pages

void IndexPage(ServiceState* state, const Request&, Response& res) {
  std::string page = PageStart("Forms", "index");
  page += "<h1>Forms</h1>\n<ul>\n";
  for (const std::string& name : state->registry->names())
    page += "<li><a class=\"doc\" href=\"/" + UrlEncode(name) + "\">" + Html(name) + "</a></li>\n";
  page += "</ul>\n" + PageEnd();
  res.set_content(page, kHtml);
}

void ListPage(ServiceState* state, const Request& req, Response& res) {
  Opened opened;
  RequestError error;
  ListQuery query;
  Selection selection;
  if (!OpenForm(*state, req.matches[1], ReaderUse::kScan, &opened, &error) ||
      !ParseListQuery(req, opened.form->engine->form(), *state->converter, &query, &selection, &error)) {
    return SendHtmlError(error, &res);
  }
  auto page = std::make_shared<ListPageStream>(opened.form, std::move(opened.owned), std::move(selection),
                                               std::move(query), state->converter);
  CountStream(state, &res, kHtml, [page](size_t, httplib::DataSink& sink) {
    std::string part;
    const bool more = page->Next(&part);
    if (!part.empty() && !sink.write(part.data(), part.size())) return false;
    if (!more) sink.done();
    return true;
  });
}

void SendDocumentPage(ServiceState* state, Opened* opened, int64_t n, Response& res) {
  std::string page;
  RequestError error;
  if (!DocumentPage(*opened->form, opened->reader, n, *state->converter, &page, &error))
    return SendHtmlError(error, &res);
  res.set_content(page, kHtml);
}

void DocumentByKey(ServiceState* state, const Request& req, Response& res) {
  Opened opened;
  RequestError error;
  int64_t n = -1;
  bool read = false;  // the page reads its neighbours and the record again
  if (!OpenForm(*state, req.matches[1], ReaderUse::kDocument, &opened, &error) ||
      !FindByKey(*state, opened, req.matches[2], &n, &read, &error))
    return SendHtmlError(error, &res);
  SendDocumentPage(state, &opened, n, res);
}

void DocumentByNumber(ServiceState* state, const Request& req, Response& res) {
  Opened opened;
  RequestError error;
  if (!OpenForm(*state, req.matches[1], ReaderUse::kDocument, &opened, &error)) return SendHtmlError(error, &res);
  const int64_t n = std::stoll(req.matches[2]);  // at most 18 digits, by the route
  SendDocumentPage(state, &opened, n, res);
}

// Unknown addresses, and errors the library answers itself (a request line
// too long, a bad request), get a body naming the status.
httplib::Server::HandlerResponse ErrorBody(const Request& req, Response& res) {
  if (!res.body.empty() || res.content_provider_ != nullptr) return httplib::Server::HandlerResponse::Unhandled;
  RequestError error{res.status, res.status == 404 ? "not found" : "bad request",
                     res.status == 404 ? "nothing is served at '" + req.path + "'" : "the request cannot be read"};
  if (req.path.rfind("/api/", 0) == 0) {
    SendJsonError(error, &res);
  } else {
    SendHtmlError(error, &res);
  }
  return httplib::Server::HandlerResponse::Handled;
}

template <typename F>
httplib::Server::Handler Bind(ServiceState* state, F handler) {
  return [state, handler](const Request& req, Response& res) { handler(state, req, res); };
}

}  // namespace

void InstallRoutes(httplib::Server* server, ServiceState* state) {
  server->Get("/static/style.css", [](const Request&, Response& res) {
    res.set_content(kStyleSheet, "text/css; charset=utf-8");
    res.set_header("Cache-Control", "max-age=3600");
  });
  server->Get("/static/keys.js", [](const Request&, Response& res) {
    res.set_content(kKeyboardScript, "text/javascript; charset=utf-8");
    res.set_header("Cache-Control", "max-age=3600");
  });
  server->Get("/favicon.ico", [](const Request&, Response& res) { res.status = 204; });
  server->Get("/", Bind(state, IndexPage));
  server->Get(R"(/api/([^/]+)/rows)", Bind(state, ApiRows));
  server->Get(R"(/api/([^/]+)/doc/(.+))", Bind(state, ApiDocument));
  server->Get(R"(/([^/]+)/doc/(.+))", Bind(state, DocumentByKey));
  server->Get(R"(/([^/]+)/record/([0-9]{1,18}))", Bind(state, DocumentByNumber));
  server->Get(R"(/([^/]+)/?)", Bind(state, ListPage));
  server->set_error_handler(httplib::Server::HandlerWithResponse(ErrorBody));
}

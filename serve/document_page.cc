#include "document_page.h"

#include "document.h"
#include "html.h"
#include "page_shell.h"
#include "screen_grid.h"

namespace {

// The address of record n, or empty when it cannot be read.
std::string NeighbourPath(const ServedForm& form, RecordReader* reader, int64_t n, const Utf8Converter& converter) {
  RecordReader::Outcome outcome;
  Status s;
  if (!ReadDocument(reader, n, &outcome, &s) || !s.ok()) return std::string();
  return DocumentPath(form, *reader, n, converter);
}

std::string Link(const std::string& path, const char* rel, const char* text) {
  if (path.empty()) return std::string("<span class=\"none\">") + text + "</span>";
  return "<a rel=\"" + std::string(rel) + "\" href=\"" + Html(path) + "\">" + text + "</a>";
}

}  // namespace

bool DocumentPage(const ServedForm& form, RecordReader* reader, int64_t n, const Utf8Converter& converter,
                  std::string* page, RequestError* error) {
  const std::string previous = n > 0 ? NeighbourPath(form, reader, n - 1, converter) : std::string();
  const int64_t after = reader->NextRecordWithData(n + 1);
  const std::string next =
      after < reader->record_count() ? NeighbourPath(form, reader, after, converter) : std::string();
  RecordReader::Outcome outcome;
  Status s;
  if (!ReadDocument(reader, n, &outcome, &s)) {
    *error = {404, "unknown document", "the store holds no record " + std::to_string(n)};
    return false;
  }
  if (!s.ok()) {
    *error = {503, "store unavailable", s.message()};
    return false;
  }
  const std::string key = converter.Convert(DocumentKey(form.engine->form(), reader->values()));
  const std::string list = "/" + UrlEncode(form.name);
  *page = PageStart(form.name + " " + key, "document");
  *page += "<h1>" + Html(form.name) + " <span class=\"key\">" + Html(key) + "</span></h1>\n";
  *page += "<nav class=\"pages\">" + Link(previous, "prev", "← Previous") + Link(list, "up", "Document list") +
           Link(next, "next", "Next →") + "<a href=\"/api/" + UrlEncode(form.name) + "/doc/" + UrlEncode(key) +
           "\" type=\"application/json\">JSON</a></nav>\n";
  AppendScreenHtml(form, *reader, converter, page);
  *page += PageEnd();
  return true;
}

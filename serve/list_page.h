// A form's document list: one search box per field, the documents whose
// records the engine accepts for those searches (by the query's own rules),
// fifty to a page. Each page continues from the record the page before it
// stopped at, never scanning again from the start; while a search runs long
// the page shows how many records it has examined.
//
// The searches become query arguments in this order: h00 with its search
// text (so a '*' there accepts everything, and a key there alone finds its
// record through H), then every other header field, then every detail
// field, with a non-empty search. A document is listed once when its header
// (a record without lines) or any of its lines is accepted.
#ifndef SERVE_LIST_PAGE_H_
#define SERVE_LIST_PAGE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <httplib.h>

#include "engine.h"
#include "form_registry.h"
#include "responses.h"
#include "row_scan.h"
#include "selection.h"
#include "text_encoding.h"

constexpr int kDocumentsPerPage = 50;

// What a list request asks: the searches by field id (UTF-8, in the form's
// order, only the non-empty ones) and the page starts so far.
struct ListQuery {
  std::vector<std::pair<std::string, std::string>> searches;
  std::vector<int64_t> trail;  // the first record of each page up to this one
};

// Reads the parameters h00.. and d00.. the form has, and p (the page token).
// A search text the store cannot hold or longer than the query allows, or a
// bad token, is an error.
bool ParseListQuery(const httplib::Request& req, const Form& form, const Utf8Converter& converter,
                    ListQuery* query, Selection* selection, RequestError* error);

// A search that has shown nothing for this long shows its progress.
constexpr std::chrono::milliseconds kProgressInterval{250};

// The page, produced a part at a time so that it streams.
class ListPageStream {
 public:
  ListPageStream(std::shared_ptr<const ServedForm> form, std::unique_ptr<RecordReader> reader,
                 Selection selection, ListQuery query, const Utf8Converter* converter,
                 std::chrono::milliseconds progress_interval = kProgressInterval);
  // Appends the next part of the page to `out`; false once the page is
  // complete (with its last part appended).
  bool Next(std::string* out);

 private:
  enum class Phase { kStart, kRows, kDone };
  void AppendStart(std::string* out) const;
  void AppendRow(int64_t n, std::string* out) const;
  void AppendEnd(std::string* out) const;
  std::string PageUrl(const std::vector<int64_t>& trail) const;

  std::shared_ptr<const ServedForm> form_;
  std::unique_ptr<RecordReader> reader_;
  Selection selection_;
  ListQuery query_;
  const Utf8Converter* converter_;
  RowScan scan_;
  Phase phase_ = Phase::kStart;
  int shown_ = 0;
  Status failure_;
  std::chrono::steady_clock::time_point last_output_;
  std::chrono::milliseconds progress_interval_;
};

#endif  // SERVE_LIST_PAGE_H_

#include "list_page.h"

#include "display_value.h"
#include "document.h"
#include "field_label.h"
#include "html.h"
#include "page_shell.h"
#include "request_parse.h"
#include "tcp.h"

namespace {

constexpr int64_t kRecordsPerStep = 2048;

std::string GroupedCount(int64_t n) {
  char shown[PUNTO_OUTPUT_SIZE] = {};
  punto(std::to_string(n).c_str(), shown, 0);
  return shown;
}

const std::string* FindSearch(const ListQuery& query, const std::string& id) {
  for (const auto& [field, text] : query.searches)
    if (field == id) return &text;
  return nullptr;
}

// Reads the search of field `id`, if any, into the query and the arguments.
bool AddSearch(const httplib::Request& req, const std::string& id, const Utf8Converter& converter,
               ListQuery* query, std::vector<QueryArgument>* arguments, RequestError* error) {
  const std::string text = req.get_param_value(id);
  const bool first = id == "h00";
  if (text.empty() && !first) return true;
  std::string bytes;
  if (!converter.FromUtf8(text, &bytes) || bytes.find('\0') != std::string::npos) {
    *error = {400, "bad argument", "search " + id + " '" + text + "' holds a character the store cannot hold"};
    return false;
  }
  if (bytes.size() > kMaxSearchLength) {
    *error = {400, "bad argument", "search " + id + " is longer than " + std::to_string(kMaxSearchLength) + " bytes"};
    return false;
  }
  if (!text.empty()) query->searches.emplace_back(id, text);
  arguments->push_back(MakeQueryArgument(id[0], std::stoi(id.substr(1)), '\0', bytes));
  return true;
}

}  // namespace

bool ParseListQuery(const httplib::Request& req, const Form& form, const Utf8Converter& converter,
                    ListQuery* query, Selection* selection, RequestError* error) {
  if (!ParsePageToken(req.get_param_value("p"), &query->trail, error)) return false;
  std::vector<QueryArgument> arguments;
  for (int i = 0; i < form.header_count; ++i)
    if (!AddSearch(req, FieldId('h', i), converter, query, &arguments, error)) return false;
  for (int i = 0; i < form.field_count; ++i)
    if (!AddSearch(req, FieldId('d', i), converter, query, &arguments, error)) return false;
  *selection = Selection(std::move(arguments));
  return true;
}

ListPageStream::ListPageStream(std::shared_ptr<const ServedForm> form, std::unique_ptr<RecordReader> reader,
                               Selection selection, ListQuery query, const Utf8Converter* converter,
                               std::chrono::milliseconds progress_interval)
    : form_(std::move(form)),
      reader_(std::move(reader)),
      selection_(std::move(selection)),
      query_(std::move(query)),
      converter_(converter),
      scan_(*form_->engine, reader_.get(), selection_, query_.trail.empty() ? 0 : query_.trail.back()),
      last_output_(std::chrono::steady_clock::now()),
      progress_interval_(progress_interval) {}

bool ListPageStream::Next(std::string* out) {
  if (phase_ == Phase::kStart) {
    AppendStart(out);
    phase_ = Phase::kRows;
    return true;
  }
  if (phase_ == Phase::kDone) return false;
  const size_t before = out->size();
  while (shown_ < kDocumentsPerPage && !scan_.done() && failure_.ok()) {
    failure_ = scan_.Step(kRecordsPerStep, [&](int64_t n, int) {
      AppendRow(n, out);
      return ++shown_ >= kDocumentsPerPage ? RowScan::Next::kStop : RowScan::Next::kNextRecord;
    });
    const auto now = std::chrono::steady_clock::now();
    if (out->size() > before) {
      last_output_ = now;
      return true;
    }
    if (!scan_.done() && now - last_output_ >= progress_interval_) {
      last_output_ = now;
      *out += "<tr class=\"progress\"><td colspan=\"99\" role=\"status\">Searching… " +
              GroupedCount(scan_.examined()) + " records examined</td></tr>\n";
      return true;
    }
  }
  AppendEnd(out);
  phase_ = Phase::kDone;
  return false;
}

std::string ListPageStream::PageUrl(const std::vector<int64_t>& trail) const {
  std::string url = "/" + UrlEncode(form_->name) + "?";
  for (const auto& [id, text] : query_.searches) url += id + "=" + UrlEncode(text) + "&";
  if (trail.empty() || (trail.size() == 1 && trail[0] == 0)) {
    url.pop_back();
    return url;
  }
  return url + "p=" + FormatPageToken(trail);
}

void ListPageStream::AppendStart(std::string* out) const {
  const Form& form = form_->engine->form();
  *out += PageStart(form_->name + " — documents", "list");
  *out += "<h1>" + Html(form_->name) + " <small><a href=\"/\" rel=\"up\">all forms</a></small></h1>\n";
  *out += "<form id=\"search\" method=\"get\" action=\"/" + UrlEncode(form_->name) + "\" role=\"search\">\n";
  *out += "<fieldset class=\"lines\"><legend>Search in the lines</legend>";
  for (int i = 0; i < form.field_count; ++i) {
    const std::string id = FieldId('d', i);
    const std::string* value = FindSearch(query_, id);
    *out += "<label>" + Html(FieldLabel(*form_, 'd', i, *converter_)) + " <input type=\"search\" name=\"" + id +
            "\" id=\"s-" + id + "\" value=\"" + (value ? Html(*value) : "") + "\"></label>";
  }
  *out += " <button type=\"submit\">Search</button></fieldset>\n</form>\n";
  *out += "<table class=\"list\"><thead><tr>";
  for (int i = 0; i < form.header_count; ++i)
    *out += "<th><label for=\"s-" + FieldId('h', i) + "\">" + Html(FieldLabel(*form_, 'h', i, *converter_)) +
            "</label></th>";
  *out += "</tr><tr>";
  for (int i = 0; i < form.header_count; ++i) {
    const std::string id = FieldId('h', i);
    const std::string* value = FindSearch(query_, id);
    *out += "<th><input type=\"search\" form=\"search\" name=\"" + id + "\" id=\"s-" + id + "\" value=\"" +
            (value ? Html(*value) : "") + "\"></th>";
  }
  *out += "</tr></thead>\n<tbody>\n";
}

void ListPageStream::AppendRow(int64_t n, std::string* out) const {
  const Form& form = form_->engine->form();
  const RecordValues& values = reader_->values();
  *out += "<tr>";
  for (int i = 0; i < form.header_count; ++i) {
    const FieldDef& def = form.ph[static_cast<size_t>(i)];
    const std::string shown = converter_->Convert(DisplayValue(def, values.HeaderText(i)));
    *out += IsNumericField(def) ? "<td class=\"n\">" : "<td>";
    if (i == 0) {
      *out += "<a class=\"doc\" href=\"" + Html(DocumentPath(*form_, *reader_, n, *converter_)) + "\">" +
              (shown.empty() ? std::string("(record ") + std::to_string(n) + ")" : Html(shown)) + "</a>";
    } else {
      AppendHtml(shown, out);
    }
    *out += "</td>";
  }
  *out += "</tr>\n";
}

void ListPageStream::AppendEnd(std::string* out) const {
  *out += "<tr class=\"end\" hidden></tr></tbody></table>\n";
  if (!failure_.ok()) *out += "<p class=\"error\" role=\"alert\">The search stopped: " + Html(Quote(failure_.message())) + "</p>\n";
  const int64_t first = query_.trail.empty() ? 0 : query_.trail.back();
  const int64_t page = query_.trail.empty() ? 1 : static_cast<int64_t>(query_.trail.size());
  *out += "<p class=\"summary\" role=\"status\">Page " + std::to_string(page) + ": " + std::to_string(shown_) +
          (shown_ == 1 ? " document" : " documents") + "; records from " + GroupedCount(first) + " examined: " +
          GroupedCount(scan_.examined()) + " of " + GroupedCount(reader_->record_count()) + ".</p>\n";
  *out += "<nav class=\"pages\">";
  if (!query_.trail.empty()) {
    std::vector<int64_t> previous(query_.trail.begin(), query_.trail.end() - 1);
    *out += "<a rel=\"prev\" accesskey=\"p\" href=\"" + Html(PageUrl(previous)) + "\">← Previous</a>";
  }
  if (!scan_.done() && failure_.ok()) {
    std::vector<int64_t> next = query_.trail.empty() ? std::vector<int64_t>{0} : query_.trail;
    next.push_back(scan_.next_record());
    *out += "<a rel=\"next\" accesskey=\"n\" href=\"" + Html(PageUrl(next)) + "\">Next →</a>";
  }
  *out += "</nav>\n" + PageEnd();
}

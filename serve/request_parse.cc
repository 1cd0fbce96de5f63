#include "request_parse.h"

#include <httplib.h>

namespace {

RequestError BadArgument(const std::string& detail) { return {400, "bad argument", detail}; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The letter and two-character number the query's argument starts with.
bool HasFieldName(std::string_view text) {
  if (text.size() < 3) return false;
  const char letter = text[0];
  if (letter != 'h' && letter != 'H' && letter != 'd' && letter != 'D') return false;
  return (IsDigit(text[1]) || text[1] == ' ') && IsDigit(text[2]);
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& texts, const Form& form, const Utf8Converter& converter,
                    Selection* selection, RequestError* error) {
  if (texts.empty()) {
    *error = BadArgument("no arg parameter: give at least one query argument, as arg=h00;");
    return false;
  }
  if (texts.size() > kMaxArguments) {
    *error = BadArgument("more than " + std::to_string(kMaxArguments) + " arg parameters");
    return false;
  }
  std::vector<QueryArgument> arguments;
  for (const std::string& text : texts) {
    std::string bytes;
    if (!converter.FromUtf8(text, &bytes) || bytes.find('\0') != std::string::npos) {
      *error = BadArgument("argument '" + text + "' holds a character the store cannot hold");
      return false;
    }
    if (!HasFieldName(bytes)) {
      *error = BadArgument("argument '" + text + "' does not begin with h or d and a two-digit field number");
      return false;
    }
    QueryArgument argument = ParseQueryArgument(bytes);
    if (argument.search.size() > kMaxSearchLength) {
      *error = BadArgument("argument '" + text + "' has a search text longer than " +
                           std::to_string(kMaxSearchLength) + " bytes");
      return false;
    }
    arguments.push_back(std::move(argument));
  }
  Selection parsed(std::move(arguments));
  const std::vector<std::string> warnings = parsed.Warnings(form);
  if (!warnings.empty()) {
    *error = BadArgument(warnings.front());
    return false;
  }
  *selection = std::move(parsed);
  return true;
}

std::vector<std::string> QueryValues(const std::string& target, std::string_view key) {
  std::vector<std::string> values;
  const size_t question = target.find('?');
  if (question == std::string::npos) return values;
  std::string_view query = std::string_view(target).substr(question + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t eq = pair.find('=');
    if (httplib::detail::decode_url(std::string(pair.substr(0, eq)), true) == key)
      values.push_back(eq == std::string_view::npos ? std::string()
                                                    : httplib::detail::decode_url(std::string(pair.substr(eq + 1)), true));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return values;
}

bool ParseFormatParameter(const std::string* value, RowFormat* format, RequestError* error) {
  if (value == nullptr) {
    *format = RowFormat::kText;
    return true;
  }
  if (ParseRowFormat(*value, format)) return true;
  *error = {400, "bad format", "format must be text, json or csv, not '" + *value + "'"};
  return false;
}

bool ParsePageToken(std::string_view token, std::vector<int64_t>* starts, RequestError* error) {
  starts->clear();
  *error = {400, "bad page token", "page token '" + std::string(token.substr(0, 200)) + "' is not one this service gave"};
  if (token.empty()) return true;
  while (true) {
    const size_t dot = token.find('.');
    const std::string_view part = token.substr(0, dot);
    if (part.empty() || part.size() > 18 || starts->size() >= kMaxPageTrail) return false;
    int64_t n = 0;
    for (char c : part) {
      if (!IsDigit(c)) return false;
      n = n * 10 + (c - '0');
    }
    if (!starts->empty() && n < starts->back()) return false;
    starts->push_back(n);
    if (dot == std::string_view::npos) return true;
    token.remove_prefix(dot + 1);
  }
}

std::string FormatPageToken(const std::vector<int64_t>& starts) {
  std::string token;
  // The oldest starts give way when the trail is full.
  const size_t first = starts.size() > kMaxPageTrail ? starts.size() - kMaxPageTrail : 0;
  for (size_t i = first; i < starts.size(); ++i) {
    if (i > first) token.push_back('.');
    token.append(std::to_string(starts[i]));
  }
  return token;
}

bool KeyFromUrl(std::string_view text, const Utf8Converter& converter, std::string* key, RequestError* error) {
  if (converter.FromUtf8(text, key) && key->find('\0') == std::string::npos && !key->empty()) return true;
  *error = {404, "unknown document", "no document has the key '" + std::string(text.substr(0, 200)) + "'"};
  return false;
}

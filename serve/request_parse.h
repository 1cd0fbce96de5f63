// What a request asks for, read from its path and query string and checked
// before anything is read from the store. Every check that fails gives a
// RequestError (status 400) naming the parameter at fault.
#ifndef SERVE_REQUEST_PARSE_H_
#define SERVE_REQUEST_PARSE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "form.h"
#include "responses.h"
#include "row_format.h"
#include "selection.h"
#include "text_encoding.h"

// The most query arguments one request may carry, and the longest search
// text, as the query's own argument table holds them.
constexpr size_t kMaxArguments = 150;
constexpr size_t kMaxSearchLength = 99;
// The most page starts a list page's token carries.
constexpr size_t kMaxPageTrail = 200;

// Query argument texts, as typed on a page or in a URL (UTF-8), to a
// selection over `form`: each in the store's bytes, with the letter h or d,
// a field number the form has, and a search text of at most
// kMaxSearchLength bytes.
bool ParseArguments(const std::vector<std::string>& texts, const Form& form, const Utf8Converter& converter,
                    Selection* selection, RequestError* error);

// Every value of parameter `key` in the query string of `target`, decoded,
// in order, repeats kept (the HTTP library's own parameter map drops a
// pair repeated exactly, and a query may ask for one field twice).
std::vector<std::string> QueryValues(const std::string& target, std::string_view key);

// A rows request's format parameter: absent means text.
bool ParseFormatParameter(const std::string* value, RowFormat* format, RequestError* error);

// A list page's token: the record numbers at which the pages up to this one
// began, as "0.120.455"; absent or empty means the first page. Numbers are
// decimal, without sign, at most 18 digits, each not below the one before,
// at most kMaxPageTrail of them.
bool ParsePageToken(std::string_view token, std::vector<int64_t>* starts, RequestError* error);
std::string FormatPageToken(const std::vector<int64_t>& starts);

// A document key from a URL (UTF-8) in the store's bytes; false when no
// byte of the store's encoding spells it.
bool KeyFromUrl(std::string_view text, const Utf8Converter& converter, std::string* key, RequestError* error);

#endif  // SERVE_REQUEST_PARSE_H_

// Text placed in HTML. Every value a page shows comes from the store or the
// request, so every value goes through one of these.
#ifndef SERVE_HTML_H_
#define SERVE_HTML_H_

#include <string>
#include <string_view>

// Appends UTF-8 `text` escaped for HTML text and for a quoted attribute
// value alike: & < > " ' as character references, and each control
// character (below U+0020, and U+007F) as its visible picture (U+2400 +
// code, U+2421), so that it shows and acts on nothing.
void AppendHtml(std::string_view text, std::string* out);
std::string Html(std::string_view text);

// `text` percent-encoded for a URL path segment or a query value: every
// byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string UrlEncode(std::string_view text);

#endif  // SERVE_HTML_H_

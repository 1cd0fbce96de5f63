#include "responses.h"

#include <nlohmann/json.hpp>

#include "escape.h"
#include "html.h"

const char kContentSecurityPolicy[] =
    "default-src 'none'; style-src 'self'; script-src 'self'; img-src 'self'; "
    "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

void SetSecurityHeaders(httplib::Response* res) {
  res->set_header("Content-Security-Policy", kContentSecurityPolicy);
  res->set_header("X-Content-Type-Options", "nosniff");
  res->set_header("Referrer-Policy", "no-referrer");
  res->set_header("X-Frame-Options", "DENY");
}

std::string Quote(std::string_view text) { return EscapeControlBytes(text); }

void SendJsonError(const RequestError& e, httplib::Response* res) {
  // The detail is ASCII after Quote, so the dump cannot fail on bad UTF-8.
  const nlohmann::ordered_json body = {{"error", e.error}, {"detail", Quote(e.detail)}};
  res->status = e.status;
  res->set_content(body.dump() + "\n", "application/json");
}

void SendHtmlError(const RequestError& e, httplib::Response* res) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + Html(e.error) +
      "</title><link rel=\"stylesheet\" href=\"/static/style.css\"></head><body><main><h1>" + Html(e.error) +
      "</h1><p class=\"detail\">" + Html(Quote(e.detail)) + "</p><p><a href=\"/\">All forms</a></p></main></body></html>\n";
  res->status = e.status;
  res->set_content(page, "text/html; charset=utf-8");
}

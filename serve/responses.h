// What every response of the service carries, and how it reports a bad
// request: a status and a JSON (or, for pages, HTML) body naming what is
// wrong. Nothing a handler does reaches the client as a stack or a crash.
#ifndef SERVE_RESPONSES_H_
#define SERVE_RESPONSES_H_

#include <string>
#include <string_view>

#include <httplib.h>

// The Content-Security-Policy of every response: nothing but the service's
// own style sheet and script, no frames, forms only to the service.
extern const char kContentSecurityPolicy[];

// Sets the security headers every response carries.
void SetSecurityHeaders(httplib::Response* res);

// A failure of a request, as the handlers pass it up.
struct RequestError {
  int status = 400;
  std::string error;   // a short fixed name: "unknown form", "bad argument", ...
  std::string detail;  // what exactly, for a person; may quote the request
};

// Sends `e` as {"error": ..., "detail": ...} with its status.
void SendJsonError(const RequestError& e, httplib::Response* res);
// Sends `e` as a small HTML page with its status.
void SendHtmlError(const RequestError& e, httplib::Response* res);

// `text` with bytes outside printable ASCII as \xNN, for quoting a
// stranger's input in a message.
std::string Quote(std::string_view text);

#endif  // SERVE_RESPONSES_H_

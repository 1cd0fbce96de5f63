// The service's addresses and what each answers.
//
//   GET /                        the forms served (HTML)
//   GET /FORM                    the document list with its searches (HTML)
//   GET /FORM/doc/KEY            a document by its key (HTML)
//   GET /FORM/record/N           a document by its record number (HTML)
//   GET /api/FORM/rows?arg=..&format=text|json|csv   the query's rows, streamed
//   GET /api/FORM/doc/KEY        a document (JSON)
//   GET /static/style.css, /static/keys.js, /favicon.ico (none: 204)
//
// Every other address is a 404; a bad request a 4xx with a JSON body (HTML
// for pages) naming what is wrong; a store that cannot be read a 503.
#ifndef SERVE_ROUTES_H_
#define SERVE_ROUTES_H_

#include <atomic>

#include <httplib.h>

#include "form_registry.h"
#include "text_encoding.h"

// What the handlers share. The registry and converter must outlive the server.
struct ServiceState {
  FormRegistry* registry = nullptr;
  const Utf8Converter* converter = nullptr;
  TextEncoding encoding = TextEncoding::kCp437;
  std::atomic<int> streams{0};  // streamed responses not yet complete
};

// Registers the handlers above on `server`.
void InstallRoutes(httplib::Server* server, ServiceState* state);

#endif  // SERVE_ROUTES_H_

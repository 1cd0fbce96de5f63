#include "page_shell.h"

#include "html.h"

std::string PageStart(std::string_view title, std::string_view body_class) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<link rel=\"stylesheet\" href=\"/static/style.css\">"
      "<script src=\"/static/keys.js\" defer></script><title>";
  AppendHtml(title, &page);
  page += "</title></head>\n<body class=\"" + Html(body_class) + "\"><main>\n";
  return page;
}

std::string PageEnd() { return "</main></body></html>\n"; }

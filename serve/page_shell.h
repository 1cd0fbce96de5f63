// The frame every HTML page shares: document head with the service's style
// sheet and keyboard script, a heading, and the closing tags.
#ifndef SERVE_PAGE_SHELL_H_
#define SERVE_PAGE_SHELL_H_

#include <string>
#include <string_view>

// The opening of a page titled `title` (UTF-8, escaped here), up to and
// including <main>; `body_class` names the kind of page for the script.
std::string PageStart(std::string_view title, std::string_view body_class);
// The close of what PageStart opened.
std::string PageEnd();

#endif  // SERVE_PAGE_SHELL_H_

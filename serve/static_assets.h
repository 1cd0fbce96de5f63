// The service's own style sheet and keyboard script, built in so that no
// request is ever served from a file.
#ifndef SERVE_STATIC_ASSETS_H_
#define SERVE_STATIC_ASSETS_H_

extern const char kStyleSheet[];
// Keys: '/' to the first search box; j/k or the arrows down/up through the
// result rows or links; Enter opens; n/p (or the arrows right/left on a
// document) follow the next/previous link; Escape leaves a search box.
extern const char kKeyboardScript[];

#endif  // SERVE_STATIC_ASSETS_H_

// Showing stranger-supplied text in a message without letting it act on the
// terminal or the log that receives the message.
#ifndef QUERY_ESCAPE_H_
#define QUERY_ESCAPE_H_

#include <string>
#include <string_view>

// `text` with every byte outside printable ASCII (below 32, 127 and above)
// written as \xNN in lower-case hex: a line end cannot forge a log line, an
// escape sequence cannot drive a terminal, and a NUL cannot cut the message
// short. Text already escaped comes back unchanged.
std::string EscapeControlBytes(std::string_view text);

#endif  // QUERY_ESCAPE_H_

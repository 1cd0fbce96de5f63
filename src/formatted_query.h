// The query with its rows as JSON Lines or CSV (`query --format=json|csv`):
// the same records and lines as the plain query, written by RowWriter.
#ifndef QUERY_FORMATTED_QUERY_H_
#define QUERY_FORMATTED_QUERY_H_

#include <string>
#include <vector>

#include "row_format.h"
#include "status.h"
#include "text_encoding.h"

// Loads `form` over the store in the working directory and writes the rows
// of `arguments` in `format` to file descriptor `fd`, store text read as
// `encoding`. Messages about odd input go to `warnings`; a failure to load
// or read is returned with the system's texts, a failed write as an error
// naming it.
Status RunFormattedQuery(const std::string& form, const std::vector<std::string>& arguments, RowFormat format,
                         TextEncoding encoding, int fd, std::vector<std::string>* warnings);

#endif  // QUERY_FORMATTED_QUERY_H_

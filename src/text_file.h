// Reading small whole files (form definitions, masks, formula files) safely.
#ifndef QUERY_TEXT_FILE_H_
#define QUERY_TEXT_FILE_H_

#include <string>

enum class ReadResult { kOk, kMissing, kNotRegular, kUnreadable };

// Reads the regular file `path` whole into `out`. Never blocks on a FIFO or
// device: anything that is not a regular file is refused as kNotRegular.
ReadResult ReadWholeFile(const std::string& path, std::string* out);

// "cannot be opened: <reason>" text for an error message.
std::string DescribeReadFailure(ReadResult result);

#endif  // QUERY_TEXT_FILE_H_

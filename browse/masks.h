// The screen masks of a form: `<form>.0` (the header part of the screen) and
// `<form>.1` (the detail part), plain text drawn under the field values.
#ifndef BROWSE_MASKS_H_
#define BROWSE_MASKS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "status.h"

// The largest mask read: far more than any screen shows.
constexpr size_t kMaxMaskSize = size_t{64} << 10;

// Reads the mask `path` into its lines, without line ends. A missing mask is
// an empty one. A mask that is no regular file, lies on a pseudo-filesystem,
// cannot be read or holds more than kMaxMaskSize bytes is an error naming
// it. Control bytes (a tab, a carriage return, an escape) become blanks, so
// that drawing a mask never sends the terminal anything but text.
Status LoadMask(const std::string& path, std::vector<std::string>* lines);

// The same from the file's text.
std::vector<std::string> SplitMask(const std::string& text);

#endif  // BROWSE_MASKS_H_

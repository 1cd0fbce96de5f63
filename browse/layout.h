// Where everything of a form goes on a screen of a given size: the mask
// text, each field's cells, the frame and the message row. A layout never
// leaves the screen: what lies beyond its right edge is cut, fields whose
// row or column lie off it are not shown and are named, and nothing is ever
// placed where it would wrap onto another row.
#ifndef BROWSE_LAYOUT_H_
#define BROWSE_LAYOUT_H_

#include <string>
#include <vector>

#include "form.h"

struct ScreenSize {
  int rows = 24;
  int columns = 80;
};

// One field on the screen; `shown` false when it lies off the screen.
struct Placement {
  int row = 0;
  int column = 0;
  int width = 0;       // cells on the screen, cut at its right edge
  int full_width = 0;  // cells the field takes on a screen wide enough
  bool shown = false;
};

// A run of mask text without blanks, so that drawing it leaves what is
// under the blanks (the frame) alone.
struct MaskRun {
  int row = 0;
  int column = 0;
  std::string text;
};

struct Layout {
  ScreenSize size;
  int message_row = 23;
  std::vector<Placement> header;  // by header field number
  std::vector<Placement> detail;  // line-major: line * field_count + field
  std::vector<MaskRun> mask;
  // A frame with corners (0, 0) and (frame_bottom, frame_right), drawn only
  // when it fits on the screen above the message row.
  bool frame = false;
  int frame_bottom = 0;
  int frame_right = 0;
  std::string hidden;  // names of the fields not shown ("h03 line 3 d00"), empty when all are

  const Placement& detail_at(int line, int field, int field_count) const {
    return detail[static_cast<size_t>(line) * field_count + field];
  }
};

// Lays out `form` on a screen of `size`. Header mask line i goes on row i,
// detail mask line j on the row after the header mask's last line plus j;
// fields go on their own rows and columns. `message_row` is the table's
// message row; one off the screen (or below 0) becomes its last row. The
// form uses the rows above the message row.
Layout MakeLayout(const Form& form, const std::vector<std::string>& header_mask,
                  const std::vector<std::string>& detail_mask, ScreenSize size, int message_row);

#endif  // BROWSE_LAYOUT_H_

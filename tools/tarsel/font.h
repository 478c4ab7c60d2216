// A 5 x 7 pixel font for the printable ASCII characters, drawn into pictures
// (captions of contact sheets, the demo's clip). Other bytes show as '?'.
#pragma once

#include <string>

#include "picture.h"

namespace tool {

// A character cell is 6 x 8 font pixels (one column of spacing; the last row
// holds descenders);
// each font pixel is drawn as scale x scale picture pixels.
inline constexpr int kCellWidth = 6;
inline constexpr int kCellHeight = 8;

int TextWidth(const std::string& text, int scale);
// Draws `text` with its top left corner at (x, y), clipped to the picture.
void DrawText(Picture& picture, int x, int y, const std::string& text, int scale, Bgr colour);

}  // namespace tool

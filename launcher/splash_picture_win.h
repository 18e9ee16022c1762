// The splash picture, decoded once from the executable's resources.
#pragma once

#include <windows.h>

#include "launcher/win_handles.h"

namespace tavrelo {

struct SplashPicture {
  UniqueGdiObject bitmap;  // a bitmap at the picture's natural size, or empty
  SIZE size = {0, 0};
};

// Decodes the GIF resource `resource_id` of `instance` with GDI+, loaded from
// System32 only for as long as the decoding takes. Empty when it cannot be
// decoded; the splash then shows its background colour alone.
SplashPicture LoadSplashPicture(HINSTANCE instance, int resource_id, COLORREF background);

// Draws `picture` stretched into `target` of `dc`, smoothly filtered.
void DrawStretched(HDC dc, const SplashPicture& picture, const RECT& target);

}  // namespace tavrelo

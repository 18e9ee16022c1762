// The splash picture, decoded from the executable's GIF resource into a
// bitmap that GDI draws: the launcher loads no imaging library.
#pragma once

#include <windows.h>

#include "launcher/splash_gif.h"

namespace tavrelo {

// Finds and decodes the GIF resource `resource_id` of `instance`. No picture
// when it is missing or does not decode whole; the splash then shows its
// background alone.
SplashDib LoadSplashPicture(HINSTANCE instance, int resource_id);

// Draws `picture` stretched into `target` of `dc`, smoothly filtered.
void DrawStretched(HDC dc, const SplashDib& picture, const RECT& target);

}  // namespace tavrelo

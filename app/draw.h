// The display's one draw of the host image: the float image as it is (the default), or, where the
// user asked for it and this OpenGL is shown to convert exactly so, 8-bit RGBA made on the host,
// which GL draws several times faster than floats while the window shows the same bytes.
#pragma once

#include "pixel.h"

enum class DrawFormat { Float, Bytes };

// What the command line asked for; before the first display.
void requestDraw(DrawFormat format);

// Draws the host image (null: nothing) into the back buffer. With the 8-bit draw requested, the
// first call first checks it on this window, and says once on stderr when it draws floats instead.
void drawHostImage(const float4* h_pixels);

// An independent reference of the picture, written apart from the core: every product, sum,
// quotient and root is formed in double and rounded to float on its own. A double holds the exact
// product of two floats, and double rounding through 53 bits is innocuous for one float operation,
// so each step is the correctly rounded float result whatever the compiler's contraction settings.
#pragma once

#include <vector>

#include "frame_params.h"
#include "pixel.h"


float refColor(float x, float y, float mx, float my, int precision);

// The whole 1024 x 768 image, row 0 first.
std::vector<float4> refImage(const FrameParams& s);

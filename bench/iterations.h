// The work in a frame: how many steps of z <- z^2 + c the escape-time rule performs. Counted
// apart from the timed frames, by a copy of the rule's loop that counts instead of colouring.
#pragma once

#include <cstdint>

// Steps juliaColor takes from (x, y): up to and including the escaping one, or all `precision`
// when the point stays bounded; 0 for a limit of 0 or below.
int juliaSteps(float x, float y, float mx, float my, int precision);

// The sum of juliaSteps over every pixel of the frame.
int64_t frameIterations(float mx, float my, int precision, float scale);

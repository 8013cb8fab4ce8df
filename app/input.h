// The input callbacks: the mouse sets the seed, the wheel the iteration limit, keys the mode.
#pragma once

// The wheel's step on the limit, saturating at INT_MAX and INT_MIN instead of overflowing.
int stepPrecision(int precision, int step);

void mouse(int button, int buttonState, int x, int y);
void motion(int x, int y);
void keyboard(unsigned char key, int x, int y);
void special(int key, int x, int y);

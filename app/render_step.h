// The render half of a frame step: the renderer of the current mode fills the host image, and a
// GPU that fails hands the frame, and the frames after it, to the CPU renderer the user came from.
// No window is involved, so the tests run it directly.
#pragma once

void renderCurrentMode();

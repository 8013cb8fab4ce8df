// One frame step: the title refresh when due, then the renderer of the current mode.
#pragma once

void computeFrame();

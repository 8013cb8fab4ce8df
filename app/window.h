// The window, its OpenGL state, and the GLUT callbacks that draw and drive the frame loop.
#pragma once

void initGL(int argc, char** argv);
void display();
void idle();
void registerCallbacks();

// Window set-up, display and idle callbacks, and the one place where every callback is registered.
#include "window.h"

#include <GL/freeglut.h>

#include "app_state.h"
#include "draw.h"
#include "frame.h"
#include "geometry.h"
#include "input.h"
#include "title.h"

// GLUT gets its own copy of the argument count, so what it strips is not seen by main.
void initGL(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(WIDTH, HEIGHT);
    glutCreateWindow(WINDOW_TITLE);

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, WIDTH, HEIGHT, 0.0, 0.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.375f, 0.375f, 0.0f);
}

// The image goes out 1:1 at the initial raster position, the bottom-left corner: row 0 at the
// bottom. No clear, no raster position, no pixel-store state.
void display() {
    drawHostImage(state.h_pixels);
    glutSwapBuffers();
}

void idle() {
    computeFrame(glutGet(GLUT_ELAPSED_TIME), glutSetWindowTitle);
    glutPostRedisplay();
}

void registerCallbacks() {
    glutDisplayFunc(display);
    glutIdleFunc(idle);
    glutMotionFunc(motion);
    glutMouseFunc(mouse);
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(special);
}

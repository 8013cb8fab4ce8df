// The mouse on the real window: clicks and drags move the seed, the wheel the iteration limit.
#include <string>

#include "harness.h"

namespace win {
namespace {

const Rgb kBlue{0, 0, 255}, kMagenta{255, 0, 255};

struct Click {
    unsigned button;
    int x, y;
};

std::string where(const Click& c) {
    return "button " + std::to_string(c.button) + " at (" + std::to_string(c.x) + ", " +
           std::to_string(c.y) + ")";
}

// Marker pixels are the only ones whose red differs from their green.
int markerPixels(const Picture& p) {
    int n = 0;
    for (const Rgb& c : p.px) n += c.r != c.g;
    return n;
}

using Mouse = Running;
using Wheel = Running;

// No reshape callback: a resized window shows the image 1:1 at its bottom-left corner (larger: the
// rest is not drawn; smaller: the image's bottom-left part), and the pointer still maps to the seed
// through the centre (512, 384), so the marker is no longer under it.
TEST_F(Mouse, AResizedWindowKeepsTheImageBottomLeftAndTheSeedMapping) {
    const struct {
        int width, height;
        Click click;
    } steps[] = {{1200, 900, {kLeft, 600, 500}},
                 {800, 600, {kRight, 300, 200}},
                 {1024, 768, {kLeft, 100, 700}}};
    for (const auto& s : steps) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) + ", " +
                     where(s.click));
        ASSERT_TRUE(session.resize(s.width, s.height));
        ASSERT_TRUE(session.waitForPicture(view)) << "before the click";
        session.clickAt(s.click.button, s.click.x, s.click.y);
        view.seedFrom(s.click.x, s.click.y);
        ASSERT_TRUE(session.waitForPicture(view));
    }
}

TEST_F(Mouse, ClicksPutTheSeedOneRowAboveThePointer) {
    // Each click lands somewhere new, so every wait sees a different picture.
    const Click clicks[] = {
        {kLeft, 337, 611},   {kLeft, 0, 0},        {kLeft, 1023, 0},   {kLeft, 0, 767},
        {kLeft, 1023, 767},  {kLeft, 3, 2},        {kLeft, 1020, 765}, {kRight, 701, 129},
        {kMiddle, 45, 700},  {kRight, 1023, 383},  {kMiddle, 512, 0},  {kLeft, 512, 384},
    };
    for (const Click& c : clicks) {
        SCOPED_TRACE(where(c));
        session.clickAt(c.button, c.x, c.y);
        view.seedFrom(c.x, c.y);
        ASSERT_TRUE(session.waitForPicture(view));
    }

    // The last click was at the centre: the marker disc (limit 10, never-escaping points around
    // it) is centred on window row 383, the row above the pointer's.
    Picture p;
    ASSERT_TRUE(session.grab(&p));
    for (int d = -3; d <= 3; d++) {
        EXPECT_EQ(p.at(512, 383 + d), kMagenta) << "row " << 383 + d;
        EXPECT_EQ(p.at(512 + d, 383), kMagenta) << "column " << 512 + d;
    }
    EXPECT_EQ(p.at(512, 379), kBlue);
    EXPECT_EQ(p.at(512, 387), kBlue);
    EXPECT_EQ(markerPixels(p), 37);
}

TEST_F(Mouse, PressSetsTheSeedAndADragCarriesItToTheRelease) {
    session.moveTo(100, 100);
    session.button(kLeft, true);
    view.seedFrom(100, 100);
    ASSERT_TRUE(session.waitForPicture(view)) << "the press alone";

    const Click path[] = {{kLeft, 180, 150}, {kLeft, 400, 300}, {kLeft, 655, 421}};
    for (const Click& c : path) {
        SCOPED_TRACE(where(c));
        session.moveTo(c.x, c.y);
        view.seedFrom(c.x, c.y);
        ASSERT_TRUE(session.waitForPicture(view));
    }
    session.button(kLeft, false);

    // With no button held the pointer no longer moves the seed.
    session.moveTo(900, 50);
    session.moveTo(20, 740);
    ASSERT_TRUE(session.settle(view));
}

TEST_F(Mouse, DragLeavingTheWindowKeepsSettingTheSeed) {
    session.moveTo(900, 700);
    session.button(kMiddle, true);
    view.seedFrom(900, 700);
    ASSERT_TRUE(session.waitForPicture(view));

    // Positions past the right and bottom edges; the window keeps them through the grab.
    const Click path[] = {{kMiddle, 1200, 1000}, {kMiddle, 1100, 200}, {kMiddle, 300, 900},
                          {kMiddle, 1279, 1023}};
    for (const Click& c : path) {
        SCOPED_TRACE(where(c));
        session.moveTo(c.x, c.y);
        view.seedFrom(c.x, c.y);
        ASSERT_TRUE(session.waitForPicture(view));
        Picture p;
        ASSERT_TRUE(session.grab(&p));
        EXPECT_EQ(markerPixels(p), 0) << "the marker is off the image";
    }
    session.button(kMiddle, false);
    session.moveTo(640, 100);  // back over the window for the wheel; no button, no seed change
    ASSERT_TRUE(session.settle(view)) << "the release outside kept the outside seed";

    // Back inside, a click takes the seed back into view.
    session.clickAt(kRight, 640, 480);
    view.seedFrom(640, 480);
    ASSERT_TRUE(session.waitForPicture(view));
}

TEST_F(Wheel, EachStepMovesTheLimitByTwo) {
    session.moveTo(700, 200);  // the wheel never moves the seed, wherever the pointer is
    session.wheel(1);
    view.precision = 12;
    ASSERT_TRUE(session.waitForPicture(view));
    session.wheel(-2);
    view.precision = 8;
    ASSERT_TRUE(session.waitForPicture(view));
}

TEST_F(Wheel, LimitAtOrBelowZeroLeavesOnlyBlueAndTheMarker) {
    session.moveTo(100, 650);
    session.wheel(-5);
    view.precision = 0;
    ASSERT_TRUE(session.waitForPicture(view));
    Picture p;
    ASSERT_TRUE(session.grab(&p));
    int blue = 0, magenta = 0;
    for (const Rgb& c : p.px) {
        blue += c == kBlue;
        magenta += c == kMagenta;
    }
    EXPECT_EQ(magenta, 37);
    EXPECT_EQ(blue + magenta, 1024 * 768) << "nothing but blue and the marker";
    EXPECT_EQ(p.at(512, 383), kMagenta);

    // Below zero the picture stays; coming back up shows the limit went on down to -6.
    session.wheel(-3);
    session.wheel(4);
    view.precision = 2;
    ASSERT_TRUE(session.waitForPicture(view));
}

}  // namespace
}  // namespace win

// The bench's bit-for-bit frame comparison as a gtest assertion.
#pragma once

#include <gtest/gtest.h>

#include "compare.h"
#include "geometry.h"

// Passes only when the two frames are bit-identical; otherwise names the number of differing
// pixels and the first few, by row and column, with both values in hex.
inline ::testing::AssertionResult imagesEqual(const float4* expected, const float4* actual) {
    const FrameComparison c = compareFrames(expected, actual);
    if (c.differing == 0) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << c.differing << " of " << PIXEL_COUNT << " pixels differ; first:";
    for (const PixelDifference& d : c.listed) {
        failure << "\n  row " << d.row << ", column " << d.column << ": expected "
                << pixelHex(d.first) << ", got " << pixelHex(d.second);
    }
    return failure;
}

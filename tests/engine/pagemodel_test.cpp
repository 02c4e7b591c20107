// The page model's matrices: an element inside a canvas goes through its own
// transform first.
#include "engine/pagemodel.h"

#include <gtest/gtest.h>

namespace {

TEST(Matrix, ElementThenCanvas) {
    engine::Matrix scale, move;
    scale.m11 = 2;
    scale.m22 = 3;
    move.dx = 10;
    move.dy = 20;
    engine::Point p = engine::Apply(engine::Multiply(scale, move), {1, 1});
    EXPECT_DOUBLE_EQ(12, p.x);
    EXPECT_DOUBLE_EQ(23, p.y);
    p = engine::Apply(engine::Multiply(move, scale), {1, 1});
    EXPECT_DOUBLE_EQ(22, p.x);
    EXPECT_DOUBLE_EQ(63, p.y);
}

}  // namespace

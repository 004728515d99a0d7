// The SDK's bit array: bits on both sides of a word boundary, sizes that end inside a word, and the
// indexes outside the array that must neither read garbage nor write anywhere.
#include <gtest/gtest.h>

#include <climits>

#include "vomark/core.h"

namespace {
std::vector<int> SetBits(const BitArray& bits) {
    std::vector<int> out;
    for (int i = 0; i < bits.GetSize(); ++i)
        if (bits[i]) out.push_back(i);
    return out;
}

TEST(BitArray, BitsOnEitherSideOfAWordBoundaryAreIndependent) {
    BitArray bits(130);
    for (int i : {0, 63, 64, 127, 128, 129})
        bits.Set(i);
    EXPECT_EQ(SetBits(bits), (std::vector<int>{0, 63, 64, 127, 128, 129}));
    EXPECT_EQ(bits.NumberSet(), 6);
    bits.Clear(64);
    bits.Set(63, 0);
    bits.Set(62, 7);
    EXPECT_EQ(SetBits(bits), (std::vector<int>{0, 62, 127, 128, 129}));
    EXPECT_EQ(bits[62], 1) << "a set bit reads as 1 whatever value set it";
}

TEST(BitArray, IndexesOutsideTheArrayReadZeroAndAreNotWritten) {
    BitArray bits(70);
    for (int i : {-1, 70, 127, 128, 1000, INT_MIN, INT_MAX}) {
        bits.Set(i);
        bits.Set(i, 1);
        EXPECT_EQ(bits[i], 0) << i;
    }
    EXPECT_EQ(bits.NumberSet(), 0);
    bits.SetSize(128, 1);
    EXPECT_EQ(bits.NumberSet(), 0) << "nothing was written past the old size";
    BitArray empty;
    empty.Set(0);
    EXPECT_EQ(empty[0], 0);
    EXPECT_EQ(empty.GetSize(), 0);
    EXPECT_EQ(BitArray(-5).GetSize(), 0);
}

TEST(BitArray, SetAllAndCountsStopAtTheSize) {
    BitArray bits(100);
    bits.SetAll();
    EXPECT_EQ(bits.NumberSet(), 100);
    bits.SetSize(192, 1);
    EXPECT_EQ(bits.NumberSet(), 100) << "the grown bits start clear";
    EXPECT_EQ(bits[99], 1);
    EXPECT_EQ(bits[100], 0);
    bits.ClearAll();
    EXPECT_EQ(bits.NumberSet(), 0);
}

TEST(BitArray, ResizeKeepsBitsOnlyWhenAskedAndAShrinkForgetsTheRest) {
    BitArray bits(200);
    for (int i : {3, 63, 64, 199})
        bits.Set(i);
    bits.SetSize(300, 1);
    EXPECT_EQ(SetBits(bits), (std::vector<int>{3, 63, 64, 199}));
    bits.SetSize(64, 1);
    EXPECT_EQ(SetBits(bits), (std::vector<int>{3, 63}));
    bits.SetSize(65, 1);
    EXPECT_EQ(bits[64], 0) << "a bit cut off by a shrink does not come back";
    bits.SetSize(60, 1);
    bits.SetSize(64, 1);
    EXPECT_EQ(bits[63], 0) << "the same within one word";
    bits.SetSize(64);
    EXPECT_EQ(bits.NumberSet(), 0) << "without save every bit is cleared";
    EXPECT_EQ(bits.GetSize(), 64);
    bits.SetSize(-3, 1);
    EXPECT_EQ(bits.GetSize(), 0);
}

TEST(BitArray, CopiesAreIndependent) {
    BitArray bits(129);
    bits.Set(64);
    bits.Set(128);
    BitArray copy = bits;
    bits.Clear(64);
    EXPECT_EQ(SetBits(copy), (std::vector<int>{64, 128}));
    BitArray larger(1000);
    larger.SetAll();
    larger = copy;
    EXPECT_EQ(larger.GetSize(), 129);
    EXPECT_EQ(larger.NumberSet(), 2) << "an assignment leaves nothing of the larger array behind";
    larger.SetSize(1000, 1);
    EXPECT_EQ(larger.NumberSet(), 2);
}
} // namespace

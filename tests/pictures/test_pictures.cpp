// The pictures library: the ramp, the binning of the heatmap grid, and the PNG it writes.
#include <gtest/gtest.h>

#include <cmath>

#include "pictures/heatmap.h"

namespace {

double Luma(const pictures::Colour& c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

TEST(Ramp, BrightensWithWeightAndClampsOutsideZeroToOne) {
    double last = -1;
    for (int i = 0; i <= 20; ++i) {
        double l = Luma(pictures::WeightColour(i / 20.0));
        EXPECT_GT(l, last) << "a heavier weight always reads lighter, also in grey";
        last = l;
    }
    EXPECT_EQ(Luma(pictures::WeightColour(-3)), Luma(pictures::WeightColour(0)));
    EXPECT_EQ(Luma(pictures::WeightColour(7)), Luma(pictures::WeightColour(1)));
    pictures::Colour nan = pictures::WeightColour(std::nan(""));
    EXPECT_EQ(nan.r, pictures::kNotFinite.r);
    EXPECT_EQ(nan.b, pictures::kNotFinite.b);
}

TEST(HeatmapGrid, CellsHoldTheMeanOfTheirWeightsAndMarkNonFinite) {
    pictures::HeatmapGrid g(1000, 4, 10, 100); // 100 samples per column, one row per vertex
    EXPECT_EQ(g.Columns(), 10);
    EXPECT_EQ(g.Rows(), 4);
    g.Add(0, 0, 0.2f);
    g.Add(99, 0, 0.4f);
    g.Add(100, 0, 1.0f);
    g.Add(999, 3, INFINITY);
    g.Add(1000, 0, 1.0f); // outside: ignored
    g.Add(5, -1, 1.0f);
    EXPECT_DOUBLE_EQ(g.Mean(0, 0), (double(0.2f) + double(0.4f)) / 2);
    EXPECT_DOUBLE_EQ(g.Mean(1, 0), 1.0);
    EXPECT_TRUE(g.NotFinite(9, 3));
    EXPECT_FALSE(g.HasData(0, 1));
}

uint32_t BigEndian(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

TEST(Heatmap, WritesAPngOfTheAskedSize) {
    pictures::HeatmapGrid g(3, 2, 500, 500);
    g.Add(1, 1, 0.5f);
    std::string png;
    ASSERT_EQ(pictures::HeatmapPng(g, {"t", 2, std::nullopt, pictures::Aggregate::Max}, 640, 360, png), "");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(BigEndian(png, 16), 640u);
    EXPECT_EQ(BigEndian(png, 20), 360u);
}

} // namespace

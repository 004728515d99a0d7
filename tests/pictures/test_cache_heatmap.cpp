// The heatmap of a cache file: how cells gather many vertices, where the axes put their labels, and
// what a file that cannot be read draws.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "pictures/cache_heatmap.h"
#include "tests/pictures/picture_pixels.h"

namespace {

using test_pictures::Decoded;
using test_pictures::Distance;

// A file as the recorder writes it: header, every sample's records, the count table.
std::string CacheFile(int32_t samplesPerFrame, const std::vector<std::vector<float>>& samples) {
    std::vector<int32_t> words = {sel::kWrittenFormatTag, samplesPerFrame, int32_t(samples.size())};
    std::string bytes(reinterpret_cast<const char*>(words.data()), 12);
    for (size_t k = 0; k < samples.size(); ++k)
        for (float w : samples[k]) {
            sel::SampleRecord r{w, int32_t(k * 80)};
            bytes.append(reinterpret_cast<const char*>(&r), sizeof r);
        }
    for (const auto& s : samples) {
        int32_t n = int32_t(s.size());
        bytes.append(reinterpret_cast<const char*>(&n), 4);
    }
    return bytes;
}

TEST(HeatmapGrid, CellsKeepTheLargestAndTheMeanOfTheirFiniteWeights) {
    pictures::HeatmapGrid g(1, 300, 1, 100); // three vertices a row
    g.Add(0, 0, 0.2f);
    g.Add(0, 1, 0.9f);
    g.Add(0, 2, 0.1f);
    g.Add(0, 3, -0.5f); // row 1: weights below zero stay what they are
    g.Add(0, 4, -0.25f);
    g.Add(0, 6, NAN);   // row 2: only a nan
    g.Add(0, 7, 0.75f); //        and one finite weight
    EXPECT_FLOAT_EQ(g.Max(0, 0), 0.9f);
    EXPECT_NEAR(g.Mean(0, 0), 0.4, 1e-7);
    EXPECT_FLOAT_EQ(g.Max(0, 1), -0.25f);
    EXPECT_FLOAT_EQ(g.Value(0, 1, pictures::Aggregate::Mean), -0.375f);
    EXPECT_TRUE(g.NotFinite(0, 2));
    EXPECT_FLOAT_EQ(g.Max(0, 2), 0.75f);
    EXPECT_FLOAT_EQ(g.Mean(0, 2), 0.75f);
    EXPECT_EQ(g.RowOf(299), 99);
    EXPECT_EQ(g.ColumnOf(0), 0);
}

TEST(Heatmap, ALoneSelectedVertexAmongThousandsInAPixelRowShowsAtItsLargest) {
    const int width = 600, height = 500;
    pictures::Box area = pictures::HeatmapArea(width, height);
    const int64_t vertices = 40000;
    pictures::HeatmapGrid g(2, vertices, int(area.w), int(area.h));
    for (int64_t v = 0; v < vertices; ++v)
        g.Add(0, v, v == 20000 ? 1.0f : 0.0f);
    int row = g.RowOf(20000);
    double y = area.y + area.h - (row + 0.5) * area.h / g.Rows(), x = area.x + area.w / 4; // vertex 0 lowest

    std::string png;
    ASSERT_EQ(pictures::HeatmapPng(g, {"max", 1, std::nullopt, pictures::Aggregate::Max}, width, height, png),
              "");
    Decoded max(png);
    EXPECT_LT(Distance(max.At(int(x), int(y)), pictures::WeightColour(1)), 0.03);
    EXPECT_LT(Distance(max.At(int(x), int(y + area.h / g.Rows() * 3)), pictures::WeightColour(0)), 0.03);

    ASSERT_EQ(
        pictures::HeatmapPng(g, {"mean", 1, std::nullopt, pictures::Aggregate::Mean}, width, height, png),
        "");
    Decoded mean(png);
    double share = 1.0 / (double(vertices) / g.Rows());
    EXPECT_LT(Distance(mean.At(int(x), int(y)), pictures::WeightColour(share)), 0.03);
}

TEST(Heatmap, VertexTicksSitAtTheCentresOfTheirRows) {
    const int width = 600, height = 500;
    pictures::Box area = pictures::HeatmapArea(width, height);
    pictures::HeatmapGrid g(1, 4, int(area.w), int(area.h)); // four rows, each a quarter of the height
    std::string png;
    ASSERT_EQ(pictures::HeatmapPng(g, {"t", 1, std::nullopt, pictures::Aggregate::Max}, width, height, png),
              "");
    Decoded d(png);
    const pictures::Colour white{1, 1, 1};
    double rowHeight = area.h / 4, tickX = area.x - 3;
    for (int v = 0; v < 4; ++v) {
        double centre = area.y + (v + 0.5) * rowHeight;
        EXPECT_GT(Distance(d.At(int(tickX), int(centre)), white), 0.5)
            << "no tick at the centre of row " << v;
        EXPECT_LT(Distance(d.At(int(tickX), int(centre - rowHeight / 4)), white), 0.01)
            << "a tick off the centre of row " << v;
    }
}

// The rows of pixels from `top` to `bottom` of a picture, as bytes.
std::string Band(const std::string& png, int top, int bottom) {
    Decoded d(png);
    std::string out;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < d.Width(); ++x) {
            pictures::Colour c = d.At(x, y);
            for (double v : {c.r, c.g, c.b})
                out.push_back(char(static_cast<unsigned char>(std::lround(v * 255))));
        }
    return out;
}

TEST(Heatmap, SampleAxisCountsTheFilesFramesFromItsStartWhenKnownElseSamples) {
    const int width = 600, height = 400;
    pictures::Box area = pictures::HeatmapArea(width, height);
    pictures::HeatmapGrid g(40, 3, int(area.w), int(area.h));
    auto axis = [&](std::optional<double> start) {
        std::string png;
        EXPECT_EQ(pictures::HeatmapPng(g, {"t", 2, start, pictures::Aggregate::Max}, width, height, png), "");
        return std::make_pair(Band(png, int(area.y + area.h) + 6, int(area.y + area.h) + 24), // tick labels
                              Band(png, int(area.y + area.h) + 28, height));                  // axis title
    };
    auto samples = axis(std::nullopt), fromZero = axis(0.0), fromTen = axis(10.0);
    EXPECT_NE(samples.second, fromZero.second) << "\"sample\" and \"frame\" titles drawn alike";
    EXPECT_EQ(fromZero.second, fromTen.second);
    EXPECT_NE(samples.first, fromZero.first) << "samples 0..39 labelled as frames 0..19";
    EXPECT_NE(fromZero.first, fromTen.first) << "the start frame left out of the labels";
}

TEST(CacheHeatmap, DrawsEverySampleOfAFileAndNamesTheByteOfOneThatCannotBeRead) {
    std::string file = CacheFile(2, {{0, 1, 0.5f}, {1, 1, 1}, {0, 0, 0}});
    sel::MemorySource good(file.data(), file.size());
    std::string png;
    pictures::CacheHeatmap map =
        pictures::DrawCacheHeatmap(good, {"good.sel", 0, 10.0, pictures::Aggregate::Max}, 700, 400, &png);
    EXPECT_EQ(map.error, "");
    EXPECT_EQ(map.layout.samples, 3);
    Decoded d(png);
    EXPECT_EQ(d.Width(), 700);
    pictures::Box area = pictures::HeatmapArea(700, 400);
    // sample 1, vertex 0: weight 1, in the middle column and the bottom row
    EXPECT_LT(Distance(d.At(int(area.x + area.w / 2), int(area.y + area.h * 5 / 6)), pictures::WeightColour(1)),
              0.03);

    std::string cut = file.substr(0, file.size() - 2); // the count table cut short
    sel::MemorySource bad(cut.data(), cut.size());
    png.clear();
    map = pictures::DrawCacheHeatmap(bad, {"cut.sel", 0, std::nullopt, pictures::Aggregate::Max}, 700, 400,
                                     &png);
    EXPECT_GE(map.failedAt, 0);
    EXPECT_NE(map.error, "");
    EXPECT_EQ(png, "");
}

} // namespace

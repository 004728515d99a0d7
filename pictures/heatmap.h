// The heatmap of weight by vertex (down) and sample (across), with the sample axis in frames.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pictures/canvas.h"

namespace pictures {

// Weights gathered into at most `columns` x `rows` cells, each the mean of the weights that fall in
// it, so a file of any size fits a picture; memory is the grid's, whatever the data.
class HeatmapGrid {
  public:
    HeatmapGrid(int64_t samples, int64_t vertices, int columns, int rows);
    void Add(int64_t sample, int64_t vertex, float weight); // outside the grid's range: ignored
    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    int64_t Samples() const { return samples_; }
    int64_t Vertices() const { return vertices_; }
    bool HasData(int column, int row) const { return Cell(column, row).count > 0; }
    bool NotFinite(int column, int row) const { return Cell(column, row).notFinite; }
    double Mean(int column, int row) const;

  private:
    struct Bin {
        double sum = 0;
        int64_t count = 0;
        bool notFinite = false;
    };
    const Bin& Cell(int c, int r) const { return bins_[size_t(r) * size_t(columns_) + size_t(c)]; }
    int64_t samples_, vertices_;
    int columns_, rows_;
    std::vector<Bin> bins_;
};

struct HeatmapLabels {
    std::string title;
    int32_t samplesPerFrame = 1; // sample k is drawn at frame k / samplesPerFrame
};

// The plot area inside a picture of width x height: grids need no more cells than it has pixels.
Box HeatmapArea(int width, int height);

// Draws the grid with axes, title and legend as PNG bytes; answers an error text or "".
std::string HeatmapPng(const HeatmapGrid& grid, const HeatmapLabels& labels, int width, int height,
                       std::string& png);

} // namespace pictures

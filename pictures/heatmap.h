// The heatmap of weight by vertex (down) and sample (across).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pictures/canvas.h"

namespace pictures {

// How the weights that fall into one cell become its colour. Max keeps a lone selected vertex
// visible among thousands in one pixel row, and shows no stripes where a regular mesh's rows beat
// against the pixel rows; Mean shows how much of the row is selected.
enum class Aggregate { Max, Mean };

// Weights gathered into at most `columns` x `rows` cells, so a file of any size fits a picture;
// memory is the grid's, whatever the data.
class HeatmapGrid {
  public:
    HeatmapGrid(int64_t samples, int64_t vertices, int columns, int rows);
    void Add(int64_t sample, int64_t vertex, float weight); // outside the grid's range: ignored
    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    int64_t Samples() const { return samples_; }
    int64_t Vertices() const { return vertices_; }
    // The cell that sample / vertex falls in.
    int ColumnOf(int64_t sample) const { return int(sample * columns_ / std::max<int64_t>(samples_, 1)); }
    int RowOf(int64_t vertex) const { return int(vertex * rows_ / std::max<int64_t>(vertices_, 1)); }
    bool HasData(int column, int row) const { return Cell(column, row).count > 0; }
    bool NotFinite(int column, int row) const { return Cell(column, row).notFinite; }
    // Of the cell's finite weights; 0 when it has none.
    double Mean(int column, int row) const;
    double Max(int column, int row) const;
    double Value(int column, int row, Aggregate a) const {
        return a == Aggregate::Max ? Max(column, row) : Mean(column, row);
    }

  private:
    struct Bin {
        double sum = 0, max = 0;
        int64_t count = 0, finite = 0;
        bool notFinite = false;
    };
    const Bin& Cell(int c, int r) const { return bins_[size_t(r) * size_t(columns_) + size_t(c)]; }
    int64_t samples_, vertices_;
    int columns_, rows_;
    std::vector<Bin> bins_;
};

struct HeatmapLabels {
    std::string title;
    int32_t samplesPerFrame = 1; // samples k * samplesPerFrame ... begin a frame
    // The frame of the file's first sample, when the caller knows it: the axis then counts the
    // file's own frames. Without it the axis counts samples.
    std::optional<double> startFrame;
    Aggregate aggregate = Aggregate::Max;
};

// The plot area inside a picture of width x height: grids need no more cells than it has pixels.
Box HeatmapArea(int width, int height);

// Draws the grid with axes, title and legend as PNG bytes; answers an error text or "".
std::string HeatmapPng(const HeatmapGrid& grid, const HeatmapLabels& labels, int width, int height,
                       std::string& png);

} // namespace pictures

// Reading pictures back in the tests: PNG bytes into a Cairo surface, and the colour of one pixel.
#pragma once
#include <cairo.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "pictures/ramp.h"

namespace test_pictures {

class Decoded {
  public:
    explicit Decoded(const std::string& png) : bytes_(png) {
        surface_ = cairo_image_surface_create_from_png_stream(&Decoded::Read, this);
        cairo_surface_flush(surface_);
    }
    ~Decoded() { cairo_surface_destroy(surface_); }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    int Width() const { return cairo_image_surface_get_width(surface_); }
    int Height() const { return cairo_image_surface_get_height(surface_); }
    pictures::Colour At(int x, int y) const { return PixelOf(surface_, x, y); }

    static pictures::Colour PixelOf(cairo_surface_t* s, int x, int y) {
        const unsigned char* data = cairo_image_surface_get_data(s);
        uint32_t p;
        std::memcpy(&p, data + size_t(y) * size_t(cairo_image_surface_get_stride(s)) + size_t(x) * 4, 4);
        return {((p >> 16) & 255) / 255.0, ((p >> 8) & 255) / 255.0, (p & 255) / 255.0};
    }

  private:
    static cairo_status_t Read(void* closure, unsigned char* data, unsigned int n) {
        auto* self = static_cast<Decoded*>(closure);
        if (self->at_ + n > self->bytes_.size()) return CAIRO_STATUS_READ_ERROR;
        std::memcpy(data, self->bytes_.data() + self->at_, n);
        self->at_ += n;
        return CAIRO_STATUS_SUCCESS;
    }
    std::string bytes_;
    size_t at_ = 0;
    cairo_surface_t* surface_;
};

inline double Distance(const pictures::Colour& a, const pictures::Colour& b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

} // namespace test_pictures

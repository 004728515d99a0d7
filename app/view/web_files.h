// The page's files, compiled in from app/view/web/ at build time.
#pragma once
#include <cstddef>

namespace app::view {

struct WebFile {
    const char* name; // file name inside web/, e.g. "view.js"
    const unsigned char* data;
    size_t size;
};
extern const WebFile kWebFiles[];
extern const size_t kWebFileCount;

} // namespace app::view

// Arguments and errors between Python and the cache code (arguments.h).
#include "python/arguments.h"

#include <unistd.h>

#include <cmath>
#include <limits>

#include "python/cache.h"
#include "sel/play.h"

namespace pytessarin {

py::array_t<bool, py::array::c_style> SelectedLike(const py::handle& selectedArg, py::ssize_t n) {
    py::array_t<bool, py::array::c_style> selected;
    if (selectedArg.is_none()) return selected;
    selected = Vector<bool>(selectedArg, "selected");
    if (selected.shape(0) != n)
        throw py::value_error("selected has " + std::to_string(selected.shape(0)) + " entries and weights " +
                              std::to_string(n) + ": give one of each per vertex");
    return selected;
}

std::string PathArg(const py::handle& arg) {
    return py::module_::import("os").attr("fsencode")(arg).cast<std::string>();
}

py::str PathText(const std::string& path) {
    return py::module_::import("os").attr("fsdecode")(py::bytes(path));
}

void PackBits(const bool* in, py::ssize_t n, uint64_t* words) {
    static_assert(sizeof(bool) == 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(in);
    py::ssize_t i = 0;
    for (; i + 8 <= n; i += 8)
        words[i / 64] |= sel::play::PackFlags(bytes + i) << (i % 64);
    for (; i < n; ++i)
        words[i / 64] |= uint64_t(bytes[i] != 0) << (i % 64);
}

float FiniteFloat(double value, const char* name) {
    if (!std::isfinite(value) || std::fabs(value) > double(std::numeric_limits<float>::max()))
        throw py::value_error(std::string(name) + " must be a finite number, not " +
                              py::repr(py::float_(value)).cast<std::string>());
    return static_cast<float>(value);
}

WithoutPython::~WithoutPython() noexcept(false) {
#if PY_VERSION_HEX >= 0x030D0000
    bool finishing = Py_IsFinalizing();
#else
    bool finishing = _Py_IsFinalizing();
#endif
    // the process ends with the main thread; this one waits for that without touching Python
    while (finishing)
        pause();
    PyEval_RestoreThread(state_);
}

void RegisterFileFailure() {
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const FileFailure& e) {
            // OSError(errno, text, filename) is made as the subclass of that errno
            py::tuple args = py::make_tuple(e.code().value(), e.text, PathText(e.path));
            PyErr_SetObject(PyExc_OSError, args.ptr());
        }
    });
}

} // namespace pytessarin

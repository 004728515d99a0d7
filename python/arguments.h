// Python arguments into what the C++ side takes: numpy arrays of one exact dtype, paths (str, bytes
// or os.PathLike), selection bits; and the C++ side's failures back into Python's exceptions.
#pragma once
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace pytessarin {
namespace py = pybind11;

// A one-dimensional array of exactly `dtype`, C-contiguous or not (it is read through a copy then).
template <class T> py::array_t<T, py::array::c_style> Vector(const py::handle& arg, const char* name) {
    auto dtypeName = [] { return py::str(py::dtype::of<T>()).template cast<std::string>(); };
    if (!py::isinstance<py::array>(arg))
        throw py::value_error(std::string(name) + " must be a numpy array of " + dtypeName());
    auto a = py::reinterpret_borrow<py::array>(arg);
    if (!a.dtype().is(py::dtype::of<T>()))
        throw py::value_error(std::string(name) + " must have dtype " + dtypeName() + ", not " +
                              py::str(a.dtype()).cast<std::string>());
    if (a.ndim() != 1)
        throw py::value_error(std::string(name) + " must be one-dimensional, not " + std::to_string(a.ndim()) +
                              "-dimensional");
    return py::array_t<T, py::array::c_style>::ensure(a);
}

// The optional selection bits, one per vertex as `weights` has `n`; empty when None.
py::array_t<bool, py::array::c_style> SelectedLike(const py::handle& selectedArg, py::ssize_t n);

// str, bytes or os.PathLike as the file name's bytes (os.fsencode); TypeError for anything else.
std::string PathArg(const py::handle& arg);
// A file name's bytes as Python's str (os.fsdecode).
py::str PathText(const std::string& path);

// numpy bools (bytes of 0 or 1) into selection words.
void PackBits(const bool* in, py::ssize_t n, uint64_t* words);

// A finite number that stays finite as a 32-bit float, or ValueError naming `name`.
float FiniteFloat(double value, const char* name);

// Python's lock given up for a while and taken back at the end of the scope. A thread that comes back
// while the interpreter is finishing (a daemon thread inside a long call when the program ends) is
// parked instead: Python would end it with pthread_exit, whose unwinding through C++ frames aborts
// the process, and a job that finished its work would then count as failed.
class WithoutPython {
  public:
    WithoutPython() : state_(PyEval_SaveThread()) {}
    WithoutPython(const WithoutPython&) = delete;
    WithoutPython& operator=(const WithoutPython&) = delete;
    ~WithoutPython() noexcept(false);

  private:
    PyThreadState* state_;
};

// Runs f with Python's lock released and the object's own lock held: other Python threads run
// meanwhile, and two threads on one object take turns.
template <class Object, class F> auto Unlocked(Object& o, F&& f) {
    WithoutPython released;
    std::lock_guard<std::mutex> lock(o.Mutex());
    return f();
}

// FileFailure as the OSError subclass of its errno (FileNotFoundError, PermissionError...).
void RegisterFileFailure();

} // namespace pytessarin

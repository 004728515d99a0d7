// The `tessarin` Python module (`tessarin._tessarin` inside the package): cache files opened, checked,
// played and written by the project's own C++ (sel/, as every command uses it). Arguments are checked
// here, so that a wrong array or number is a ValueError or IndexError with a sentence, never a crash;
// long calls run without Python's lock, each object behind a lock of its own.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "python/arguments.h"
#include "python/cache.h"
#include "sel/repair.h"

namespace py = pybind11;
using namespace pytessarin;

namespace {

// A relative name from the current folder: the file stays the one opened whatever os.chdir does later.
std::string Resolved(const std::string& path) {
    py::module_ os = py::module_::import("os");
    return os.attr("path").attr("join")(os.attr("getcwdb")(), py::bytes(path)).cast<std::string>();
}

void CheckOpen(const Cache& c) {
    if (c.Closed()) throw py::value_error("the cache " + c.Path() + " is closed");
}

// Sample k of an open cache (Python's lock released, the cache's held).
int SampleIndex(const Cache& c, py::ssize_t k) {
    CheckOpen(c);
    if (k < 0 || k >= c.SampleCount())
        throw py::index_error("sample " + std::to_string(k) + " is outside the file's samples 0 to " +
                              std::to_string(c.SampleCount() - 1));
    return static_cast<int>(k);
}

template <class T, class Field> py::array_t<T> SampleField(Cache& c, py::ssize_t k, Field field) {
    int count = Unlocked(c, [&] { return c.Count(SampleIndex(c, k)); });
    py::array_t<T> out(count);
    T* dst = out.mutable_data();
    Unlocked(c, [&] {
        int i = SampleIndex(c, k); // closed meanwhile?
        c.CheckUnchanged();
        std::vector<sel::SampleRecord> records(static_cast<size_t>(count));
        c.ReadRecords(i, records.data());
        for (size_t j = 0; j < records.size(); ++j)
            dst[j] = field(records[j]);
    });
    return out;
}

// `vertices` of read(): an index (negative from the end), a slice or a 1-D array of indices, as
// numpy takes them, into record numbers below `count`; false for None (every record).
bool Columns(const py::object& vertices, py::ssize_t count, std::vector<int64_t>& columns, bool& single) {
    single = false;
    if (vertices.is_none()) return false;
    if (py::isinstance<py::slice>(vertices)) {
        py::ssize_t start = 0, stop = 0, step = 0, length = 0;
        if (!vertices.cast<py::slice>().compute(count, &start, &stop, &step, &length)) throw py::error_already_set();
        for (py::ssize_t j = 0; j < length; ++j)
            columns.push_back(start + j * step);
        return true;
    }
    py::array indices = py::module_::import("numpy").attr("asarray")(vertices);
    char kind = indices.dtype().kind();
    if (kind != 'i' && kind != 'u')
        throw py::type_error("vertices must be an index, a slice or an array of indices, not " +
                             py::str(indices.dtype()).cast<std::string>());
    if (indices.ndim() > 1) throw py::value_error("vertices must be one index or a one-dimensional array of them");
    single = indices.ndim() == 0;
    auto flat = indices.attr("astype")("int64").attr("ravel")().cast<py::array_t<int64_t, py::array::c_style>>();
    for (py::ssize_t j = 0; j < flat.size(); ++j) {
        int64_t v = flat.at(j);
        if (v < -count || v >= count)
            throw py::index_error("vertex " + std::to_string(v) + " is outside the " + std::to_string(count) +
                                  " records of those samples");
        columns.push_back(v < 0 ? v + count : v);
    }
    return true;
}

// The weights of samples `ks` as rows of one (len(ks), vertices) array: every sample of one count.
// `vertices` (see Columns) picks the columns, read alone; one index gives one column as a 1-D array.
py::object Rows(Cache& c, const std::vector<int>& ks, const py::object& vertices = py::none()) {
    int count = Unlocked(c, [&] {
        CheckOpen(c);
        if (ks.empty()) return 0;
        int lo = c.Count(ks[0]), hi = lo;
        for (int k : ks)
            lo = std::min(lo, c.Count(k)), hi = std::max(hi, c.Count(k));
        if (lo != hi)
            throw py::value_error("those samples hold from " + std::to_string(lo) + " to " + std::to_string(hi) +
                                  " records; read samples of unequal counts one at a time with weights(k)");
        return lo;
    });
    std::vector<int64_t> columns;
    bool single = false;
    if (Columns(vertices, count, columns, single)) {
        py::array_t<float> out({static_cast<py::ssize_t>(ks.size()), static_cast<py::ssize_t>(columns.size())});
        float* dst = out.mutable_data();
        Unlocked(c, [&] {
            CheckOpen(c);
            c.CheckUnchanged();
            c.ReadColumns(ks, columns, dst);
        });
        if (single) return out.attr("reshape")(static_cast<py::ssize_t>(ks.size()));
        return out;
    }
    py::array_t<float> out({static_cast<py::ssize_t>(ks.size()), static_cast<py::ssize_t>(count)});
    float* dst = out.mutable_data();
    Unlocked(c, [&] {
        CheckOpen(c);
        c.CheckUnchanged();
        for (int k : ks) {
            c.ReadWeights(k, k + 1, count, dst);
            dst += count;
        }
    });
    return out;
}

py::object Read(Cache& c, py::ssize_t start, const py::object& stopArg, const py::object& vertices) {
    int total = Unlocked(c, [&] {
        CheckOpen(c);
        return c.SampleCount();
    });
    py::ssize_t stop = stopArg.is_none() ? total : stopArg.cast<py::ssize_t>();
    if (start < 0 || stop > total || start > stop)
        throw py::index_error("read(" + std::to_string(start) + ", " + std::to_string(stop) +
                              ") is not a range inside the file's samples 0 to " + std::to_string(total));
    std::vector<int> ks;
    for (py::ssize_t k = start; k < stop; ++k)
        ks.push_back(static_cast<int>(k));
    return Rows(c, ks, vertices);
}

py::object Item(Cache& c, const py::object& key) {
    py::ssize_t total = Unlocked(c, [&] {
        CheckOpen(c);
        return c.SampleCount();
    });
    if (py::isinstance<py::slice>(key)) {
        py::ssize_t start = 0, stop = 0, step = 0, length = 0;
        if (!key.cast<py::slice>().compute(total, &start, &stop, &step, &length)) throw py::error_already_set();
        std::vector<int> ks;
        for (py::ssize_t j = 0; j < length; ++j)
            ks.push_back(static_cast<int>(start + j * step));
        return Rows(c, ks);
    }
    PyObject* index = PyNumber_Index(key.ptr()); // TypeError for 1.5, as a list gives
    if (!index) throw py::error_already_set();
    py::ssize_t k = py::reinterpret_steal<py::int_>(index).cast<py::ssize_t>();
    if (k < 0) k += total; // as every Python sequence: -1 is the last sample
    return SampleField<float>(c, k, [](const sel::SampleRecord& r) { return r.weight; });
}

// The caller's arrays for the results (`out`, a pair), checked like the inputs; new ones when None.
std::pair<py::array_t<float>, py::array_t<bool>> Outputs(const py::handle& outArg, py::ssize_t n) {
    if (outArg.is_none()) return {py::array_t<float>(n), py::array_t<bool>(n)};
    auto pair = py::reinterpret_borrow<py::object>(outArg);
    if (!py::isinstance<py::tuple>(pair) || py::len(pair) != 2)
        throw py::value_error("out must be a pair of arrays (weights, selected)");
    std::pair<py::array_t<float>, py::array_t<bool>> out;
    const char* names[] = {"out[0]", "out[1]"};
    for (int k = 0; k < 2; ++k) {
        py::handle a = pair.cast<py::tuple>()[size_t(k)];
        if (!py::isinstance<py::array>(a) || !(py::reinterpret_borrow<py::array>(a).flags() & py::array::c_style) ||
            !(py::reinterpret_borrow<py::array>(a).writeable()))
            throw py::value_error(std::string(names[k]) + " must be a writable, C-contiguous numpy array");
    }
    out.first = Vector<float>(pair.cast<py::tuple>()[0], names[0]);
    out.second = Vector<bool>(pair.cast<py::tuple>()[1], names[1]);
    if (out.first.shape(0) != n || out.second.shape(0) != n)
        throw py::value_error("out must hold one entry per vertex of weights (" + std::to_string(n) + ")");
    return out;
}

// The weights as a consumer that has no selection bits holds them: 1.0 where selected, and (clamp)
// each within 0..1 as a vertex group keeps it. One pass after the evaluation, while the results are
// still in the processor's cache; a pass of numpy for each would read and write them three times more.
void AsWeights(float* w, const bool* sel, py::ssize_t n, bool selectedAsOne, bool clamp) {
    if (selectedAsOne)
        for (py::ssize_t i = 0; i < n; ++i)
            w[i] = sel[i] ? 1.0f : w[i];
    if (clamp)
        for (py::ssize_t i = 0; i < n; ++i)
            w[i] = std::min(std::max(w[i], 0.0f), 1.0f); // NaN stays NaN, as numpy's maximum/minimum keep it
}

py::tuple Evaluate(Cache& c, double frame, const py::handle& weightsArg, const py::handle& selectedArg,
                   double start, bool relativeOffset, double strength, int selectionType, int ticksPerFrame,
                   const py::handle& outArg, bool selectedAsOne, bool clamp) {
    if (!std::isfinite(frame)) throw py::value_error("frame must be a finite number");
    if (ticksPerFrame < 1) throw py::value_error("ticks_per_frame must be 1 or more");
    if (selectionType < 0 || selectionType > 2)
        throw py::value_error("selection_type must be 0 (Replace), 1 (Add) or 2 (Subtract), not " +
                              std::to_string(selectionType));
    // the host's frame to ticks: truncated toward zero, inside the range of tick times
    double ticks = std::trunc(frame * ticksPerFrame);
    if (!(ticks >= -2147483648.0 && ticks <= 2147483647.0))
        throw py::value_error("frame " + py::str(py::float_(frame)).cast<std::string>() +
                              " lies outside the range of tick times");
    EvalSettings s;
    s.tick = static_cast<int32_t>(ticks);
    s.start = FiniteFloat(start, "start");
    s.relativeOffset = relativeOffset;
    s.strength = FiniteFloat(strength, "strength");
    s.selectionType = selectionType;
    s.ticksPerFrame = ticksPerFrame;
    auto weights = Vector<float>(weightsArg, "weights");
    py::ssize_t n = weights.shape(0);
    if (n > std::numeric_limits<int>::max()) throw py::value_error("weights has more vertices than a mesh can have");
    auto selected = SelectedLike(selectedArg, n);
    const bool* selectedBits = selectedArg.is_none() ? nullptr : selected.data();
    const float* in = weights.data();
    // the results may go into the inputs themselves: the pass reads each vertex before it writes it
    auto [outWeights, outSelected] = Outputs(outArg, n);
    float* w = outWeights.mutable_data();
    bool* sel = outSelected.mutable_data();
    std::string mismatch;
    Unlocked(c, [&] {
        CheckOpen(c);
        c.CheckUnchanged();
        std::vector<uint64_t> words(size_t(n + 63) / 64 + 1, 0);
        if (selectedBits) PackBits(selectedBits, n, words.data());
        // the incoming bits into the output, where the played ones are merged
        if (!selectedBits)
            std::memset(sel, 0, size_t(n));
        else if (sel != selectedBits)
            std::memmove(sel, selectedBits, size_t(n));
        c.Evaluate(s, in, w, words.data(), sel, static_cast<int>(n));
        AsWeights(w, sel, n, selectedAsOne, clamp);
        mismatch = c.CountMismatch(static_cast<int>(n));
    });
    if (!mismatch.empty()) {
        // stack level 2: the caller of the package's function, not the package
        if (PyErr_WarnEx(PyExc_UserWarning, mismatch.c_str(), 2) < 0) throw py::error_already_set();
    }
    return py::make_tuple(outWeights, outSelected);
}

py::dict Verify(const py::handle& pathArg) {
    std::string path = PathArg(pathArg);
    sel::CacheReader reader;
    OpenCache(reader, path, false);
    // the same report and repair plan as the tool's verify, so the findings, the verdict and the
    // repair hint are its to the letter
    sel::VerifyReport r;
    bool repairable = false;
    {
        WithoutPython released;
        const sel::Source& src = reader.GetSource();
        r = sel::VerifyFile(src);
        repairable = r.Verdict() != sel::Fault::None && sel::PlanRepair(src, std::nullopt, [] { return false; }).ok;
    }
    py::dict answer;
    answer["file"] = PathText(path);
    answer["verdict"] = sel::FaultName(r.Verdict());
    answer["playable"] = r.playable;
    answer["samplesPlayed"] = r.layout.samples;
    answer["repairable"] = repairable;
    py::list findings;
    for (const auto& finding : r.findings) {
        py::dict d;
        d["byte"] = finding.at;
        d["kind"] = sel::FaultName(finding.fault);
        d["message"] = finding.message;
        findings.append(d);
    }
    answer["findings"] = findings;
    return answer;
}

void Append(Writer& w, const py::handle& weightsArg, const py::handle& selectedArg) {
    auto weights = Vector<float>(weightsArg, "weights");
    py::ssize_t n = weights.shape(0);
    if (n > std::numeric_limits<int32_t>::max()) throw py::value_error("a sample holds at most 2147483647 records");
    auto selected = SelectedLike(selectedArg, n);
    const bool* bits = selectedArg.is_none() ? nullptr : selected.data();
    Unlocked(w, [&] {
        if (w.Closed()) throw py::value_error("the writer " + w.Path() + " is closed");
        w.Append(weights.data(), bits, static_cast<int>(n));
    });
}


template <class T> py::object Checked(Cache& c, T (*get)(const Cache&)) {
    return py::cast(Unlocked(c, [&] {
        CheckOpen(c);
        return get(c);
    }));
}

void BindCache(py::module_& m) {
    py::class_<Cache>(m, "Cache",
                      "An open cache file: its samples, read on demand by position, and playback onto weights. "
                      "A sequence of samples: len(cache), cache[k] (weights), cache[a:b] (a 2-D array).")
        .def_property_readonly("path", [](Cache& c) { return PathText(c.Path()); }, "The file's name.")
        .def_property_readonly("closed", [](Cache& c) { return Unlocked(c, [&] { return c.Closed(); }); },
                               "Whether close() was called.")
        .def_property_readonly(
            "samples_per_frame",
            [](Cache& c) { return Checked<int32_t>(c, [](const Cache& x) { return x.Layout().header.samplesPerFrame; }); },
            "Header word 1: samples per frame.")
        .def_property_readonly(
            "sample_count", [](Cache& c) { return Checked<int32_t>(c, [](const Cache& x) { return x.SampleCount(); }); },
            "The samples that play, as counted when the file was opened.")
        .def_property_readonly(
            "fixed_count",
            [](Cache& c) -> py::object {
                int32_t tag = Unlocked(c, [&] {
                    CheckOpen(c);
                    return c.Layout().variable ? -1 : c.Layout().header.formatTag;
                });
                return tag < 0 ? py::object(py::none()) : py::object(py::int_(tag));
            },
            "The records of every sample of a fixed-count file; None for a variable-count file.")
        .def_property_readonly(
            "counts",
            [](Cache& c) {
                int n = Checked<int32_t>(c, [](const Cache& x) { return x.SampleCount(); }).cast<int>();
                py::array_t<int32_t> out(n);
                int32_t* d = out.mutable_data();
                Unlocked(c, [&] {
                    for (int k = 0; k < n; ++k)
                        d[k] = c.Count(k);
                });
                return out;
            },
            "Records per sample (int32), sample_count entries.")
        .def_property_readonly("changed", [](Cache& c) { return Unlocked(c, [&] { return c.Changed(); }); },
                               "Whether the file on disk is no longer the one opened (rewritten, replaced or "
                               "removed): reads then raise CacheError; open it again.")
        .def("weights", [](Cache& c, py::ssize_t k) {
                return SampleField<float>(c, k, [](const sel::SampleRecord& r) { return r.weight; });
            }, py::arg("k"), "Sample k's weights (float32), read from the file now.")
        .def("times", [](Cache& c, py::ssize_t k) {
                return SampleField<int32_t>(c, k, [](const sel::SampleRecord& r) { return r.time; });
            }, py::arg("k"), "Sample k's tick times (int32), read from the file now.")
        .def("read", &Read, py::arg("start") = 0, py::arg("stop") = py::none(), py::kw_only(),
             py::arg("vertices") = py::none(),
             "The weights of samples start to stop (exclusive; stop None: to the end) as a 2-D float32 array "
             "(samples, vertices): one vertex over time is a column. The samples must hold one count. "
             "vertices (an index, a slice or an array of indices, as numpy takes them) reads those columns "
             "alone; one index gives a 1-D array.")
        .def("__len__", [](Cache& c) { return Checked<int32_t>(c, [](const Cache& x) { return x.SampleCount(); }); },
             "sample_count.")
        .def("__getitem__", &Item, py::arg("key"),
             "cache[k]: sample k's weights (negative k counts from the end); cache[a:b:s]: those samples' "
             "weights as a 2-D array.")
        .def("evaluate", &Evaluate, py::arg("frame"), py::arg("weights"), py::arg("selected") = py::none(), py::kw_only(),
             py::arg("start") = 0.0, py::arg("relative_offset") = false, py::arg("strength") = 1.0,
             py::arg("selection_type") = 0, py::arg("ticks_per_frame") = 160, py::arg("out") = py::none(),
             py::arg("selected_as_one") = false, py::arg("clamp") = false,
             "(weights, selected) after the modifier plays the cache at `frame` onto a mesh with these incoming "
             "weights (float32) and selection bits (bool; None, the default: none selected); into the arrays of `out` (a pair, which may "
             "be the inputs themselves) instead of new ones when given. selected_as_one: the weight of a selected "
             "vertex is 1.0; clamp: each weight is kept within 0..1 (as a vertex group keeps it).")
        .def("close", [](Cache& c) { Unlocked(c, [&] { c.Close(); }); }, "Closes the file; twice is harmless.")
        .def("__enter__", [](Cache& c) -> Cache& {
                Unlocked(c, [&] { CheckOpen(c); });
                return c;
            }, py::return_value_policy::reference, "The cache itself.")
        .def("__exit__", [](Cache& c, py::args) { Unlocked(c, [&] { c.Close(); }); }, "Closes the file.")
        .def("__repr__", [](Cache& c) {
            std::string path = py::repr(PathText(c.Path())).cast<std::string>();
            return Unlocked(c, [&] {
                if (c.Closed()) return "<tessarin.Cache " + path + " (closed)>";
                return "<tessarin.Cache " + path + ": " + std::to_string(c.SampleCount()) + " samples>";
            });
        }, "The file's name and its samples.");
}

void BindWriter(py::module_& m) {
    py::class_<Writer>(m, "Writer",
                       "Writes a cache file as the recorder does, one sample at a time, beside its name until "
                       "close() puts it in place; a writer never closed is discarded (an old file keeps its "
                       "bytes).")
        .def(py::init([](const py::handle& path, int spf, int tpf, double startFrame, bool overwrite) {
                 return std::make_unique<Writer>(PathArg(path), spf, tpf, startFrame, overwrite);
             }),
             py::arg("path"), py::arg("samples_per_frame"), py::arg("ticks_per_frame") = 160, py::kw_only(),
             py::arg("start_frame") = 0.0, py::arg("overwrite") = false,
             "Starts the file (str, bytes or os.PathLike) beside its name; close() puts it in place. "
             "FileExistsError when it exists and overwrite is False, another OSError when it cannot be "
             "created, ValueError for settings no recorder uses.")
        .def_property_readonly("path", [](Writer& w) { return PathText(w.Path()); }, "The file's name.")
        .def_property_readonly("sample_count", [](Writer& w) { return Unlocked(w, [&] { return w.Samples(); }); },
                               "The samples appended so far.")
        .def_property_readonly("closed", [](Writer& w) { return Unlocked(w, [&] { return w.Closed(); }); },
                               "Whether close() was called.")
        .def("append", &Append, py::arg("weights"), py::arg("selected") = py::none(),
             "Appends one sample: weight 1.0 where selected is true, else the weight (float32).")
        .def("close", [](Writer& w) { Unlocked(w, [&] { w.Close(); }); },
             "Writes the count table and puts the file in place of any old one (an OSError naming the file "
             "and the reason when that fails, the old file kept as it was); twice is harmless. A writer "
             "never closed is discarded: the old file stays.")
        .def("__enter__", [](Writer& w) -> Writer& { return w; }, py::return_value_policy::reference,
             "The writer itself.")
        .def("__exit__",
             [](Writer& w, const py::handle& type, const py::handle&, const py::handle&) {
                 // a block left by an exception is no finished file: the old one stays
                 bool failed = !type.is_none();
                 Unlocked(w, [&] { failed ? w.Discard() : w.Close(); });
             },
             "close(); when the block raised, the file is discarded instead.")
        .def("__repr__", [](Writer& w) {
            std::string path = py::repr(PathText(w.Path())).cast<std::string>();
            return Unlocked(w, [&] {
                return "<tessarin.Writer " + path + ": " + std::to_string(w.Samples()) + " samples" +
                       (w.Closed() ? ", closed>" : ">");
            });
        }, "The file's name and the samples so far.");
}

} // namespace

PYBIND11_MODULE(_tessarin, m) {
    m.doc() = "Selection cache files (.sel): open, check, play and write them with the Tessarin plug-in's "
              "own code.";
    m.attr("__version__") = TESSARIN_VERSION_STRING;
    auto error = py::register_exception<CacheFailure>(m, "CacheError");
    error.attr("__doc__") = "A file the modifier would refuse (its message is the cache tool's line: file, byte, "
                            "reason), or one changed on disk since it was opened.";
    RegisterFileFailure();
    BindCache(m);
    BindWriter(m);
    // a fork waits for the calls running in other threads and the child gets every lock free
    py::module_::import("os").attr("register_at_fork")(
        py::arg("before") = py::cpp_function(&ForkSafeMutex::BeforeFork),
        py::arg("after_in_parent") = py::cpp_function(&ForkSafeMutex::AfterFork),
        py::arg("after_in_child") = py::cpp_function(&ForkSafeMutex::AfterFork));
    m.def(
        "open", [](const py::handle& path) { return std::make_unique<Cache>(Resolved(PathArg(path))); },
        py::arg("path"),
        "Opens a cache file (str, bytes or os.PathLike) as the modifier would; a relative name is taken from "
        "the current folder now (a later os.chdir changes nothing). Raises an OSError "
        "(FileNotFoundError, PermissionError, IsADirectoryError) when it cannot be opened, CacheError with "
        "the file, byte and reason when the modifier would refuse it.");
    m.def("verify", &Verify, py::arg("path"),
          "The findings of `tessarin verify --format json`, as a dict; OSError when the file cannot be opened.");
}

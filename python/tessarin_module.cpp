// The `tessarin` Python module: cache files opened, checked, played and written by the project's own
// C++ (sel/, as every command uses it). Arguments are checked here, so that a wrong array or number
// is a ValueError or IndexError with a sentence, never a crash.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstring>
#include <system_error>

#include "sel/repair.h"
#include "python/cache.h"

namespace py = pybind11;
using pytessarin::Cache;
using pytessarin::CacheFailure;
using pytessarin::Writer;

namespace {

// A one-dimensional array of exactly `dtype`, C-contiguous or not (it is read through a copy then).
template <class T> py::array_t<T, py::array::c_style> Vector(const py::handle& arg, const char* name) {
    if (!py::isinstance<py::array>(arg))
        throw py::value_error(std::string(name) + " must be a numpy array of " +
                              py::str(py::dtype::of<T>()).cast<std::string>());
    auto a = py::reinterpret_borrow<py::array>(arg);
    if (!a.dtype().is(py::dtype::of<T>()))
        throw py::value_error(std::string(name) + " must have dtype " +
                              py::str(py::dtype::of<T>()).cast<std::string>() + ", not " +
                              py::str(a.dtype()).cast<std::string>());
    if (a.ndim() != 1)
        throw py::value_error(std::string(name) + " must be one-dimensional, not " +
                              std::to_string(a.ndim()) + "-dimensional");
    return py::array_t<T, py::array::c_style>::ensure(a);
}

void CheckOpen(const Cache& c) {
    if (c.Closed()) throw py::value_error("the cache " + c.Path() + " is closed");
}

int SampleIndex(const Cache& c, py::ssize_t k) {
    CheckOpen(c);
    if (k < 0 || k >= c.SampleCount())
        throw py::index_error("sample " + std::to_string(k) + " is outside the file's samples 0 to " +
                              std::to_string(c.SampleCount() - 1));
    return static_cast<int>(k);
}

template <class T, class Field> py::array_t<T> SampleField(Cache& c, py::ssize_t k, Field field) {
    int i = SampleIndex(c, k);
    std::vector<sel::SampleRecord> records(static_cast<size_t>(c.Count(i)));
    c.ReadRecords(i, records.data());
    py::array_t<T> out(static_cast<py::ssize_t>(records.size()));
    T* dst = out.mutable_data();
    for (size_t j = 0; j < records.size(); ++j)
        dst[j] = field(records[j]);
    return out;
}

// The optional selection bits, one per vertex as `weights` has `n`; empty when None.
py::array_t<bool, py::array::c_style> SelectedLike(const py::handle& selectedArg, py::ssize_t n) {
    py::array_t<bool, py::array::c_style> selected;
    if (selectedArg.is_none()) return selected;
    selected = Vector<bool>(selectedArg, "selected");
    if (selected.shape(0) != n)
        throw py::value_error("selected has " + std::to_string(selected.shape(0)) + " entries and weights " +
                              std::to_string(n) + ": give one of each per vertex");
    return selected;
}

// numpy bools (bytes of 0 or 1) into selection words, eight at a time.
void PackBits(const bool* in, py::ssize_t n, uint64_t* words) {
    static_assert(sizeof(bool) == 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(in);
    py::ssize_t i = 0;
    for (; i + 8 <= n; i += 8)
        words[i / 64] |= sel::play::PackFlags(bytes + i) << (i % 64);
    for (; i < n; ++i)
        words[i / 64] |= uint64_t(bytes[i] != 0) << (i % 64);
}

// Selection words into numpy bools, eight at a time through a table of spread bytes.
void UnpackBits(const uint64_t* words, py::ssize_t n, bool* out) {
    static const auto spread = [] {
        std::array<uint64_t, 256> t{};
        for (unsigned b = 0; b < 256; ++b)
            for (unsigned k = 0; k < 8; ++k)
                t[b] |= uint64_t(b >> k & 1) << (8 * k);
        return t;
    }();
    py::ssize_t i = 0;
    for (; i + 8 <= n; i += 8)
        std::memcpy(out + i, &spread[words[i / 64] >> (i % 64) & 0xff], 8);
    for (; i < n; ++i)
        out[i] = words[i / 64] >> (i % 64) & 1;
}

py::tuple Evaluate(Cache& c, double frame, const py::handle& weightsArg, const py::handle& selectedArg,
                   double start, bool relativeOffset, double strength, int selectionType, int ticksPerFrame) {
    CheckOpen(c);
    if (!std::isfinite(frame)) throw py::value_error("frame must be a finite number");
    if (ticksPerFrame < 1) throw py::value_error("ticks_per_frame must be 1 or more");
    // the host's frame to ticks: truncated toward zero, inside the range of tick times
    double ticks = std::trunc(frame * ticksPerFrame);
    if (!(ticks >= -2147483648.0 && ticks <= 2147483647.0))
        throw py::value_error("frame " + py::str(py::float_(frame)).cast<std::string>() +
                              " lies outside the range of tick times");
    auto weights = Vector<float>(weightsArg, "weights");
    py::ssize_t n = weights.shape(0);
    if (n > std::numeric_limits<int>::max())
        throw py::value_error("weights has more vertices than a mesh can have");
    auto selected = SelectedLike(selectedArg, n);
    pytessarin::EvalSettings s;
    s.tick = static_cast<int32_t>(ticks);
    s.start = static_cast<float>(start);
    s.relativeOffset = relativeOffset;
    s.strength = static_cast<float>(strength);
    s.selectionType = selectionType;
    s.ticksPerFrame = ticksPerFrame;
    py::array_t<float> outWeights(n);
    py::array_t<bool> outSelected(n);
    float* w = outWeights.mutable_data();
    bool* sel = outSelected.mutable_data();
    std::vector<uint64_t> words(size_t(n + 63) / 64 + 1, 0);
    if (!selectedArg.is_none()) PackBits(selected.data(), n, words.data());
    c.Evaluate(s, weights.data(), w, words.data(), static_cast<int>(n));
    UnpackBits(words.data(), n, sel);
    return py::make_tuple(outWeights, outSelected);
}

py::object Verify(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw CacheFailure(path + ": cannot open: " + std::strerror(errno));
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        throw CacheFailure(path + ": not a plain file");
    }
    // the same report and repair plan as the tool's verify, so the findings, the verdict and the
    // repair hint are its to the letter
    py::dict answer;
    {
        sel::FileSource src(f);
        sel::VerifyReport r = sel::VerifyFile(src);
        sel::Fault verdict = r.Verdict();
        bool repairable = verdict != sel::Fault::None && sel::PlanRepair(src, std::nullopt, [] { return false; }).ok;
        answer["file"] = path;
        answer["verdict"] = sel::FaultName(verdict);
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
    }
    std::fclose(f);
    return answer;
}

void Append(Writer& w, const py::handle& weightsArg, const py::handle& selectedArg) {
    if (w.Closed()) throw py::value_error("the writer is closed");
    auto weights = Vector<float>(weightsArg, "weights");
    py::ssize_t n = weights.shape(0);
    if (n > std::numeric_limits<int32_t>::max())
        throw py::value_error("a sample holds at most 2147483647 records");
    auto selected = SelectedLike(selectedArg, n);
    w.Append(weights.data(), selectedArg.is_none() ? nullptr : selected.data(), static_cast<int>(n));
}

// std::system_error as the OSError Python raises for the same errno (FileExistsError...).
[[noreturn]] void RaiseOSError(const std::system_error& e, const std::string& path) {
    errno = e.code().value();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

} // namespace

PYBIND11_MODULE(tessarin, m) {
    m.doc() = "Selection cache files (.sel): open, check, play and write them with the Tessarin plug-in's "
              "own code.";
    py::register_exception<CacheFailure>(m, "CacheError");

    py::class_<Cache>(m, "Cache",
                      "An open cache file: its samples, read on demand, and playback onto weights.")
        .def_property_readonly("path", &Cache::Path)
        .def_property_readonly("closed", &Cache::Closed)
        .def_property_readonly("samples_per_frame",
                               [](Cache& c) {
                                   CheckOpen(c);
                                   return c.Layout().header.samplesPerFrame;
                               })
        .def_property_readonly("sample_count",
                               [](Cache& c) {
                                   CheckOpen(c);
                                   return c.SampleCount();
                               })
        .def_property_readonly("fixed_count",
                               [](Cache& c) -> py::object {
                                   CheckOpen(c);
                                   if (c.Layout().variable) return py::none();
                                   return py::int_(c.Layout().header.formatTag);
                               })
        .def_property_readonly("counts",
                               [](Cache& c) {
                                   CheckOpen(c);
                                   py::array_t<int32_t> out(c.SampleCount());
                                   int32_t* d = out.mutable_data();
                                   for (int k = 0; k < c.SampleCount(); ++k)
                                       d[k] = c.Count(k);
                                   return out;
                               })
        .def(
            "weights",
            [](Cache& c, py::ssize_t k) {
                return SampleField<float>(c, k, [](const sel::SampleRecord& r) { return r.weight; });
            },
            py::arg("k"), "Sample k's weights (float32), read from the file now.")
        .def(
            "times",
            [](Cache& c, py::ssize_t k) {
                return SampleField<int32_t>(c, k, [](const sel::SampleRecord& r) { return r.time; });
            },
            py::arg("k"), "Sample k's tick times (int32), read from the file now.")
        .def("evaluate", &Evaluate, py::arg("frame"), py::arg("weights"), py::arg("selected"), py::kw_only(),
             py::arg("start") = 0.0, py::arg("relative_offset") = false, py::arg("strength") = 1.0,
             py::arg("selection_type") = 0, py::arg("ticks_per_frame") = 160,
             "(weights, selected) after the modifier plays the cache at `frame` onto a mesh with these "
             "incoming "
             "weights (float32) and selection bits (bool, or None).")
        .def("close", &Cache::Close)
        .def(
            "__enter__",
            [](Cache& c) -> Cache& {
                CheckOpen(c);
                return c;
            },
            py::return_value_policy::reference)
        .def("__exit__", [](Cache& c, py::args) { c.Close(); })
        .def("__repr__", [](Cache& c) {
            if (c.Closed()) return "<tessarin.Cache " + c.Path() + " (closed)>";
            return "<tessarin.Cache " + c.Path() + ": " + std::to_string(c.SampleCount()) + " samples>";
        });

    m.def(
        "open", [](const std::string& path) { return std::make_unique<Cache>(path); }, py::arg("path"),
        "Opens a cache file as the modifier would; raises CacheError with the file, byte and reason "
        "otherwise.");
    m.def("verify", &Verify, py::arg("path"), "The findings of `tessarin verify --format json`, as a dict.");

    py::class_<Writer>(m, "Writer", "Writes a cache file as the recorder does, one sample at a time.")
        .def(py::init([](const std::string& path, int spf, int tpf, double startFrame, bool overwrite) {
                 try {
                     return std::make_unique<Writer>(path, spf, tpf, startFrame, overwrite);
                 } catch (const std::system_error& e) {
                     RaiseOSError(e, path);
                 }
             }),
             py::arg("path"), py::arg("samples_per_frame"), py::arg("ticks_per_frame") = 160, py::kw_only(),
             py::arg("start_frame") = 0.0, py::arg("overwrite") = false)
        .def_property_readonly("sample_count", &Writer::Samples)
        .def_property_readonly("closed", &Writer::Closed)
        .def(
            "append",
            [](Writer& w, const py::handle& weights, const py::handle& selected) {
                try {
                    Append(w, weights, selected);
                } catch (const std::system_error& e) {
                    RaiseOSError(e, w.Path());
                }
            },
            py::arg("weights"), py::arg("selected") = py::none(),
            "Appends one sample: weight 1.0 where selected is true, else the weight.")
        .def("close",
             [](Writer& w) {
                 try {
                     w.Close();
                 } catch (const std::system_error& e) {
                     RaiseOSError(e, w.Path());
                 }
             })
        .def(
            "__enter__", [](Writer& w) -> Writer& { return w; }, py::return_value_policy::reference)
        .def("__exit__", [](Writer& w, py::args) { w.Close(); });
}

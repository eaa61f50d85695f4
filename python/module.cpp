// imagefiles._imagefiles: the library's functions on 2-D uint8 numpy arrays. An input array is
// read where it lies (a non-contiguous one is copied once); the interpreter's lock is released
// around every computation and file operation, so that threads binarise in parallel. A failure
// raises one of the exceptions of imagefiles/_errors.py, with the library's status.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "imagefiles/auto_threshold.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"
#include "temporary_file.h"

namespace py = pybind11;

namespace {

// A failure, turned into a Python exception by the translator registered below (which holds the
// interpreter's lock: a Failure is only thrown with the lock held).
struct Failure : std::exception {
  statut_image status;
  int error;            // errno of a file failure, 0 otherwise
  py::object path;      // the file's name as the caller gave it, or None
  std::string message;  // the message of an argument refused here; empty for the library's statuses

  Failure(statut_image s, int e, py::object p, std::string w)
      : status(s), error(e), path(std::move(p)), message(std::move(w)) {}
  const char* what() const noexcept override { return "imagefiles failure"; }
};

[[noreturn]] void refuse(const std::string& message,
                         statut_image status = IMAGE_PARAMETRE_INVALIDE) {
  throw Failure(status, 0, py::none(), message);
}

void check(statut_image status) {
  if (status != IMAGE_OK) throw Failure(status, 0, py::none(), "");
}

// A 2-D array of bytes as the library takes it: C-contiguous (the caller's array, or one copy of
// it), with dimensions that fit an int.
struct Raster {
  py::array array;
  int rows = 0;
  int columns = 0;

  const unsigned char* data() const { return static_cast<const unsigned char*>(array.data()); }
  std::size_t size() const { return static_cast<std::size_t>(rows) * std::size_t(columns); }
};

void check_shape(const py::array& a, const char* what) {
  if (a.dtype().kind() != 'u' || a.itemsize() != 1) {
    refuse(std::string(what) + " must have dtype uint8, not " +
           py::str(a.dtype()).cast<std::string>());
  }
  if (a.ndim() != 2) {
    refuse(std::string(what) + " must be 2-D (rows, columns), not " + std::to_string(a.ndim()) +
           "-D");
  }
  if (a.shape(0) < 1 || a.shape(1) < 1) {
    refuse(std::string(what) + " is empty", IMAGE_TAILLE_HORS_LIMITES);
  }
  if (a.shape(0) > INT_MAX || a.shape(1) > INT_MAX) {
    refuse(std::string(what) + " has a dimension beyond 2,147,483,647", IMAGE_TAILLE_HORS_LIMITES);
  }
}

Raster raster_of(const py::handle& object, const char* what) {
  if (!py::isinstance<py::array>(object)) refuse(std::string(what) + " must be a numpy array");
  auto a = py::reinterpret_borrow<py::array>(object);
  check_shape(a, what);
  if (!(a.flags() & py::array::c_style)) {
    // The library reads rows with nothing between them: a view with strides is copied once.
    a = py::module_::import("numpy").attr("ascontiguousarray")(a);
  }
  return {a, static_cast<int>(a.shape(0)), static_cast<int>(a.shape(1))};
}

// A new rows x columns array; numpy's MemoryError becomes the library's status.
py::array new_raster(int rows, int columns) {
  try {
    return py::array_t<std::uint8_t>({py::ssize_t{rows}, py::ssize_t{columns}});
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_MemoryError)) throw;
    throw Failure(IMAGE_MEMOIRE_INSUFFISANTE, 0, py::none(),
                  "not enough memory for " + std::to_string(rows) + " x " +
                      std::to_string(columns) + " pixels");
  }
}

// Where the result goes: `out` when given (checked), else a new array.
py::array output_for(const Raster& image, const py::object& out) {
  if (out.is_none()) {
    return new_raster(image.rows, image.columns);
  }
  if (!py::isinstance<py::array>(out)) refuse("out must be a numpy array");
  auto o = py::reinterpret_borrow<py::array>(out);
  check_shape(o, "out");
  if (o.shape(0) != image.rows || o.shape(1) != image.columns) {
    refuse("out must have the shape of the image");
  }
  if (!o.writeable()) refuse("out is read-only");
  if (!(o.flags() & py::array::c_style)) refuse("out must be C-contiguous");
  return o;
}

unsigned char* bytes_of(py::array& a) {
  return static_cast<unsigned char*>(a.mutable_data());
}

// The input as the library may read it while writing `output`: itself, or, when the two overlap
// without being the same raster, a copy.
Raster apart_from(Raster image, const py::array& output) {
  const auto* in = image.data();
  const auto* out = static_cast<const unsigned char*>(output.data());
  const std::size_t n = image.size();
  const auto a = reinterpret_cast<std::uintptr_t>(in);
  const auto b = reinterpret_cast<std::uintptr_t>(out);
  if (a != b && a < b + n && b < a + n) {
    image.array = py::array(image.array.dtype(), {image.rows, image.columns}, in);
  }
  return image;
}

// A Python integer clamped to an int (a threshold or a window beyond it behaves as the nearest
// limit does: all black or all white, or a window out of range).
// Any integer type (numpy's too) is taken, through the index protocol.
bool is_integer(const py::handle& value) {
  return PyIndex_Check(value.ptr()) != 0;
}

int clamped_int(const py::handle& value, const char* what) {
  if (!is_integer(value)) refuse(std::string(what) + " must be an integer");
  const auto integer = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!integer) throw py::error_already_set();
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
  if (overflow != 0) return overflow > 0 ? INT_MAX : INT_MIN;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// Any real number (numpy's too); not a string, which Python would not take as one either.
double real_of(const py::handle& value, const char* what) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)) {
    refuse(std::string(what) + " must be a real number");
  }
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    refuse(std::string(what) + " must be a real number");
  }
  return v;
}

// A file name as the system takes it: bytes, from str, bytes or os.PathLike.
std::string file_name(const py::object& path) {
  const py::bytes encoded = py::module_::import("os").attr("fsencode")(path);
  std::string name = encoded;
  if (name.find('\0') != std::string::npos) refuse("the file name holds a null character");
  return name;
}

// A file operation's failure; errno is kept where the system gave the reason.
[[noreturn]] void fail_on_file(statut_image status, int error, const py::object& path) {
  const bool from_system = status == IMAGE_PAS_D_ACCES_EN_LECTURE ||
                           status == IMAGE_PAS_D_ACCES_EN_ECRITURE ||
                           status == IMAGE_ERREUR_DE_LECTURE || status == IMAGE_ERREUR_D_ECRITURE ||
                           status == IMAGE_DESCRIPTEURS_EPUISES;
  throw Failure(status, from_system ? error : 0, path, "");
}

// Calls a file operation without the interpreter's lock; a failure keeps errno.
template <typename Operation>
void on_file(const py::object& path, Operation&& operation) {
  statut_image status;
  int error;
  {
    py::gil_scoped_release unlocked;
    errno = 0;
    status = operation();
    error = errno;
  }
  if (status != IMAGE_OK) fail_on_file(status, error, path);
}

// ---- The functions --------------------------------------------------------------------------

int threshold_otsu(const py::object& a) {
  const Raster image = raster_of(a, "the image");
  py::gil_scoped_release unlocked;
  return calculer_seuil_otsu(image.data(), image.size());
}

int suggested_window(const py::object& a) {
  const Raster image = raster_of(a, "the image");
  py::gil_scoped_release unlocked;
  return fenetre_conseillee(image.data(), image.rows, image.columns);
}

py::array binarize(const py::object& a, const py::object& method, const py::object& window,
                   const py::object& k, const py::object& out) {
  Raster image = raster_of(a, "the image");
  py::array output = output_for(image, out);
  image = apart_from(image, output);
  unsigned char* to = bytes_of(output);
  const unsigned char* from = image.data();
  const int rows = image.rows;
  const int columns = image.columns;

  if (is_integer(method)) {
    const int level = clamped_int(method, "a threshold");
    py::gil_scoped_release unlocked;
    binariser(to, from, image.size(), level);
    return output;
  }
  if (!py::isinstance<py::str>(method)) {
    refuse("method must be \"auto\", \"otsu\", \"sauvola\", \"niblack\", \"wolf\" or an integer");
  }
  const std::string name = method.cast<std::string>();
  statut_image status = IMAGE_OK;
  if (name == "auto") {
    py::gil_scoped_release unlocked;
    status = binariser_auto(to, from, rows, columns);
  } else if (name == "otsu") {
    py::gil_scoped_release unlocked;
    binariser(to, from, image.size(), calculer_seuil_otsu(from, image.size()));
  } else if (name == "sauvola" || name == "niblack" || name == "wolf") {
    const int w = clamped_int(window, "window");
    const double kk = k.is_none() ? (name == "wolf" ? 0.5 : 0.2) : real_of(k, "k");
    if (w < 3 || w > 65535 || w % 2 == 0) refuse("window must be odd, from 3 to 65535");
    if (!std::isfinite(kk)) refuse("k must be a finite number");
    const auto local = name == "sauvola"   ? binariser_sauvola
                       : name == "niblack" ? binariser_niblack
                                           : binariser_wolf;
    py::gil_scoped_release unlocked;
    status = local(to, from, rows, columns, w, kk);
  } else {
    refuse("unknown method \"" + name +
           "\": \"auto\", \"otsu\", \"sauvola\", \"niblack\", \"wolf\" or an integer");
  }
  check(status);
  return output;
}

// A stream closed however the function is left.
struct Close {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The file `name` as charger_image_grise and compter_pages take it: the file itself when it is a
// regular file (or a block device); else (a named pipe, /dev/stdin, a terminal) a copy of its
// bytes in a temporary file, removed with this, since such a file gives its bytes once and the
// readers read a file twice (its size, then its raster) and seek in it.
struct Readable {
  std::string name;
  TemporaryFile copy;
};

// Called without the interpreter's lock; errno tells a failure of the system.
statut_image make_readable(const std::string& name, Readable* readable) {
  // Opened the blocking way, close-on-exec: a named pipe waits for its writer, as open() does.
  const std::unique_ptr<std::FILE, Close> file(std::fopen(name.c_str(), "rbe"));
  if (!file) return imagefiles::detail::open_failure(IMAGE_PAS_D_ACCES_EN_LECTURE);
  struct stat about;
  if (fstat(fileno(file.get()), &about) != 0) return IMAGE_ERREUR_DE_LECTURE;
  if (S_ISDIR(about.st_mode)) {
    errno = EISDIR;
    return IMAGE_ERREUR_DE_LECTURE;
  }
  if (S_ISREG(about.st_mode) || S_ISBLK(about.st_mode)) {
    readable->name = name;
    return IMAGE_OK;
  }
  if (!readable->copy.create("imagefiles-", "")) return IMAGE_ERREUR_DE_LECTURE;
  const statut_image status = readable->copy.fill(nullptr, 0, file.get());
  if (status == IMAGE_OK) readable->name = readable->copy.name();
  return status;
}

py::array read_image(const py::object& path, const py::object& page_object) {
  const std::string name = file_name(path);
  // A page beyond an int is beyond every file's pages, as a negative one: IMAGE_PAGE_ABSENTE.
  const int page = clamped_int(page_object, "page");
  Readable readable;
  int rows = 0;
  int columns = 0;
  statut_image status;
  int error;
  {
    py::gil_scoped_release unlocked;
    errno = 0;
    status = make_readable(name, &readable);
    if (status == IMAGE_OK) {
      // The size first: a file that cannot be read is refused before any memory is taken.
      status = charger_image_grise(readable.name.c_str(), page, nullptr, 0, &rows, &columns);
    }
    error = errno;
  }
  if (status != IMAGE_TAMPON_TROP_PETIT) fail_on_file(status, error, path);
  py::array image = new_raster(rows, columns);
  unsigned char* to = bytes_of(image);
  int read_rows = 0;
  int read_columns = 0;
  {
    py::gil_scoped_release unlocked;
    errno = 0;
    status =
        charger_image_grise(readable.name.c_str(), page, to,
                            std::size_t(rows) * std::size_t(columns), &read_rows, &read_columns);
    error = errno;
  }
  // A file replaced between the two reads would give a raster of another size.
  if (status == IMAGE_TAMPON_TROP_PETIT ||
      (status == IMAGE_OK && (read_rows != rows || read_columns != columns))) {
    status = IMAGE_ERREUR_DE_LECTURE;
    error = 0;
  }
  if (status != IMAGE_OK) fail_on_file(status, error, path);
  return image;
}

int count_pages(const py::object& path) {
  const std::string name = file_name(path);
  Readable readable;
  int pages = 0;
  on_file(path, [&] {
    const statut_image status = make_readable(name, &readable);
    return status == IMAGE_OK ? compter_pages(readable.name.c_str(), &pages) : status;
  });
  return pages;
}

void write_greymap(const py::object& path, const py::object& a) {
  const Raster image = raster_of(a, "the image");
  const std::string name = file_name(path);
  on_file(path, [&] {
    return enregistrer_image_pgm(name.c_str(), image.data(), image.rows, image.columns);
  });
}

void write_bitmap(const py::object& path, const py::object& a) {
  const Raster image = raster_of(a, "the image");
  const std::string name = file_name(path);
  on_file(path, [&] {
    return enregistrer_image_pbm(name.c_str(), image.data(), image.rows, image.columns);
  });
}

// ---- What imagefiles.dask needs to give the whole image's result block by block ------------

py::array_t<std::uint64_t> histogram(const py::object& a) {
  const Raster image = raster_of(a, "the image");
  py::array_t<std::uint64_t> counts(256);
  std::uint64_t* h = counts.mutable_data();
  std::fill(h, h + 256, 0);
  py::gil_scoped_release unlocked;
  imagefiles::detail::count_samples(image.data(), image.size(), h);
  return counts;
}

int otsu_of_histogram(
    const py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>& h) {
  if (h.ndim() != 1 || h.shape(0) != 256) refuse("a histogram has 256 counts");
  return imagefiles::detail::otsu_threshold(h.data());
}

using Widest = std::tuple<double, double, double, std::int64_t, std::int64_t>;

Widest widest_window(const py::object& a, int window, int top, int left, int inner_rows,
                     int inner_columns) {
  const Raster image = raster_of(a, "the block");
  if (window < 3 || window > 65535 || window % 2 == 0)
    refuse("window must be odd, from 3 to 65535");
  if (top < 0 || left < 0 || inner_rows < 1 || inner_columns < 1 ||
      top + std::int64_t{inner_rows} > image.rows ||
      left + std::int64_t{inner_columns} > image.columns) {
    refuse("the region is not within the block");
  }
  imagefiles::detail::Widest w;
  {
    py::gil_scoped_release unlocked;
    w = imagefiles::detail::widest_window_within(image.data(), image.rows, image.columns, window,
                                                 top, left, inner_rows, inner_columns);
  }
  return {w.spread, w.sum, w.squares, w.row, w.column};
}

double deviation_of(const Widest& w, int window) {
  const imagefiles::detail::Widest widest{std::get<0>(w), std::get<1>(w), std::get<2>(w),
                                          std::get<3>(w), std::get<4>(w)};
  return imagefiles::detail::deviation_of(widest, window);
}

py::array binarize_wolf_given(const py::object& a, int window, double k, int minimum,
                              double range) {
  const Raster image = raster_of(a, "the block");
  py::array output = output_for(image, py::none());
  unsigned char* to = bytes_of(output);
  statut_image status;
  {
    py::gil_scoped_release unlocked;
    status = imagefiles::detail::binarise_wolf_given(to, image.data(), image.rows, image.columns,
                                                     window, k, minimum, range);
  }
  check(status);
  return output;
}

// The automatic method on a page given in pieces (imagefiles.dask): its statistics gathered from
// bands of whole rows, every pass from the top, then any block of the page decided where it lies,
// from the block and the window's half of rows and columns around it. The order of the passes is
// checked here: the statistics take their rows on trust.
class AutoPage {
 public:
  AutoPage(int rows, int columns) : rows_(rows), columns_(columns) {
    if (rows < 1 || columns < 1) refuse("the page is empty", IMAGE_TAILLE_HORS_LIMITES);
    try {
      statistics_ = std::make_unique<imagefiles::detail::AutoStatistics>(rows, columns);
    } catch (const std::bad_alloc&) {
      check(IMAGE_MEMOIRE_INSUFFISANTE);
    }
  }

  // Rows [first, first + band's rows) of the page to the pass under way.
  void gather(int pass, int first, const py::object& band) {
    const Raster rows = raster_of(band, "the band");
    const std::lock_guard<std::mutex> lock(order_);
    if (pass != pass_ || first != next_row_ || rows.columns != columns_ ||
        first + std::int64_t{rows.rows} > rows_) {
      refuse("bands must come whole, from the top, pass after pass");
    }
    const std::size_t width = static_cast<std::size_t>(columns_);
    try {
      py::gil_scoped_release unlocked;
      for (int y = 0; y < rows.rows; ++y) {
        if (statistics_->wanted(pass, first + y)) {
          statistics_->gather(pass, first + y, 0, rows.data() + static_cast<std::size_t>(y) * width,
                              width);
        }
      }
    } catch (const std::bad_alloc&) {
      check(IMAGE_MEMOIRE_INSUFFISANTE);
    }
    next_row_ += rows.rows;
  }

  void end(int pass) {
    const std::lock_guard<std::mutex> lock(order_);
    if (pass != pass_ || next_row_ != rows_) refuse("a pass ends once every row is given");
    try {
      statistics_->end(pass);
    } catch (const std::bad_alloc&) {
      check(IMAGE_MEMOIRE_INSUFFISANTE);
    }
    ++pass_;
    next_row_ = 0;
  }

  // What the passes learnt, for another process (pickle): the page's size and the statistics'
  // bytes; and back.
  py::tuple state() const {
    ready();
    std::string bytes;
    try {
      bytes = statistics_->saved();
    } catch (const std::bad_alloc&) {
      check(IMAGE_MEMOIRE_INSUFFISANTE);
    }
    return py::make_tuple(rows_, columns_, py::bytes(bytes));
  }
  static std::unique_ptr<AutoPage> from_state(const py::tuple& state) {
    if (state.size() != 3) refuse("not the state of a page's statistics");
    auto page = std::make_unique<AutoPage>(state[0].cast<int>(), state[1].cast<int>());
    bool restored = false;
    try {
      restored = page->statistics_->restore(state[2].cast<std::string>());
    } catch (const std::bad_alloc&) {
      check(IMAGE_MEMOIRE_INSUFFISANTE);
    }
    if (!restored) refuse("not the state of a page's statistics");
    page->pass_ = page->passes();
    return page;
  }

  int passes() const { return imagefiles::detail::AutoStatistics::passes; }
  int window() const {
    ready();
    return statistics_->window();
  }

  // The block whose top left sample is (top, left) in the page, decided as a page of its own
  // whose paper is the page's there: its rows and columns that have the window's half of the
  // page around them in the block are those of the whole page.
  py::array decide(const py::object& block, int top, int left) const {
    ready();
    const Raster image = raster_of(block, "the block");
    if (top < 0 || left < 0 || top + std::int64_t{image.rows} > rows_ ||
        left + std::int64_t{image.columns} > columns_) {
      refuse("the block is not within the page");
    }
    py::array output = new_raster(image.rows, image.columns);
    unsigned char* to = bytes_of(output);
    const std::size_t width = static_cast<std::size_t>(image.columns);
    try {
      py::gil_scoped_release unlocked;
      imagefiles::detail::AutoRows rows(*statistics_, image.rows,
                                        imagefiles::detail::whole_row(image.columns), top, left);
      int decided = 0;
      for (int y = 0; y < image.rows; ++y) {
        rows.feed(image.data() + static_cast<std::size_t>(y) * width);
        while (rows.next(to + static_cast<std::size_t>(decided) * width)) ++decided;
      }
    } catch (const std::bad_alloc&) {
      check(IMAGE_MEMOIRE_INSUFFISANTE);
    }
    return output;
  }

 private:
  void ready() const {
    if (pass_ != passes()) refuse("the page's passes are not done");
  }

  int rows_, columns_;
  std::unique_ptr<imagefiles::detail::AutoStatistics> statistics_;
  std::mutex order_;
  std::atomic<int> pass_{0};
  int next_row_ = 0;
};

// For the benchmark of the binding's cost: the seconds of each of `repeats` calls of the library's
// function for `method` on `a` into `out`, with nothing of Python between them.
std::vector<double> seconds_in_c(const py::object& a, const std::string& method, int window,
                                 double k, const py::object& out, int repeats) {
  const Raster image = raster_of(a, "the image");
  py::array output = output_for(image, out);
  unsigned char* to = bytes_of(output);
  std::vector<double> seconds;
  py::gil_scoped_release unlocked;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    if (method == "otsu") {
      binariser(to, image.data(), image.size(), calculer_seuil_otsu(image.data(), image.size()));
    } else if (method == "threshold_otsu") {
      volatile int t = calculer_seuil_otsu(image.data(), image.size());
      (void)t;
    } else if (method == "sauvola") {
      binariser_sauvola(to, image.data(), image.rows, image.columns, window, k);
    } else if (method == "auto") {
      binariser_auto(to, image.data(), image.rows, image.columns);
    }
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return seconds;
}

}  // namespace

PYBIND11_MODULE(_imagefiles, m) {
  m.doc() = "The C library's functions; use the package imagefiles, which documents them.";
  m.attr("__version__") = IMAGEFILES_VERSION;

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Failure& f) {
      const py::object exception =
          py::module_::import("imagefiles._errors")
              .attr("_from_status")(static_cast<int>(f.status), f.error, f.path, f.message);
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    }
  });

  m.def("threshold_otsu", &threshold_otsu, py::arg("a"), R"(threshold_otsu(a) -> int

Otsu's threshold of the 2-D uint8 array `a`, for binarize(a, t): the level that maximises the
between-class variance of the histogram, plus one, so that exactly the pixels above the level are
white (OpenCV's cv2.threshold with THRESH_OTSU returns the level itself: this is that level + 1).
Between 1 and 256; 1 for an image that no level splits.)");

  m.def("suggested_window", &suggested_window, py::arg("a"), R"(suggested_window(a) -> int

The odd window that a local method ("sauvola", "niblack", "wolf") should use on the page `a`, from
the size of its writing: about one letter height, never below three stroke widths, from 3 to 255;
15 for a page with no writing. Only a sample of the page is read.

    bw = imagefiles.binarize(page, "sauvola", window=imagefiles.suggested_window(page)))");

  m.def("binarize", &binarize, py::arg("a"), py::arg("method") = "auto", py::arg("window") = 15,
        py::arg("k") = py::none(), py::arg("out") = py::none(),
        R"(binarize(a, method="auto", window=15, k=None, out=None) -> ndarray

Binarises the 2-D uint8 array `a` into 255 (white) and 0 (black), returned as a new array or
written into `out` (a writable C-contiguous uint8 array of a's shape; `out=a` binarises in place).

method:
  "auto"     for document pages: the paper brought to one level, then both a global and a local
             threshold (no parameter).
  "otsu"     white above Otsu's level (threshold_otsu).
  "sauvola"  white above m (1 + k (s / 127.5 - 1)), k 0.2 by default,
  "niblack"  white above m - k s, k 0.2 by default,
  "wolf"     white above m - k (1 - s / Smax) (m - M), k 0.5 by default: m and s the mean and
             standard deviation of the window x window pixels around (the image mirrored at its
             borders), M the image's smallest sample and Smax the largest s.
  an int t   white where the sample is at or above t.
`window` (odd, 3 to 65535) and `k` (finite) are used by the three local methods only.

`a` is read in place when C-contiguous; another layout is copied once. The computation runs
without the interpreter's lock. Raises ValueError (bad dtype, dimensions, window, k, out) and
MemoryError, both imagefiles.ImageError with the library's `.status`.)");

  m.def("read", &read_image, py::arg("path"), py::arg("page") = 0, R"(read(path, page=0) -> ndarray

Reads the image `page` (from 0; only a TIFF has more than one) of the file `path` (str, bytes or
os.PathLike) into a new 2-D uint8 array of grey: every Netpbm variant, PNG, TIFF and JPEG, known by
their first bytes. 16-bit samples are brought to 0-255, an opacity composited on white, colour
taken to the luma (0.299 R + 0.587 G + 0.114 B) as Pillow's convert("L") computes it; an 8-bit
greymap's samples as stored. A named pipe or /dev/stdin is read once, through a temporary copy in
$TMPDIR (or /tmp) removed before the call returns.

Raises OSError (imagefiles.ImageError, with `.errno` where the system gave one, `.filename` and
`.status`) when the file cannot be read, is in no format read, is damaged or is a variant not read
(CMYK, floating-point samples); ValueError when it has no page `page`.)");

  m.def("count_pages", &count_pages, py::arg("path"), R"(count_pages(path) -> int

The number of images in the file `path`: the pages of a TIFF (no raster is read), 1 for the other
formats. A named pipe gives its bytes once: it can be counted or read, not both. Raises OSError as
read does.)");

  m.def("write", &write_greymap, py::arg("path"), py::arg("a"), R"(write(path, a) -> None

Writes the 2-D uint8 array `a` as the binary greymap file `path`, replacing it whole: the image is
written beside it and renamed over it, so that a failed or interrupted write leaves the old file
as it was. Raises OSError (imagefiles.ImageError) when the file cannot be written.)");

  m.def("write_bitmap", &write_bitmap, py::arg("path"), py::arg("a"),
        R"(write_bitmap(path, a) -> None

Writes the 2-D uint8 array `a` as the bitmap file ("P4", one bit a pixel) `path`: a sample below 128
is black. Replaces the file whole, as write does.)");

  py::class_<AutoPage>(m, "_AutoPage")
      .def(py::init<int, int>(), py::arg("rows"), py::arg("columns"))
      .def_property_readonly("passes", &AutoPage::passes)
      .def_property_readonly("window", &AutoPage::window)
      .def("gather", &AutoPage::gather, py::arg("pass_"), py::arg("first"), py::arg("band"))
      .def("end", &AutoPage::end, py::arg("pass_"))
      .def("decide", &AutoPage::decide, py::arg("block"), py::arg("top"), py::arg("left"))
      .def(py::pickle([](const AutoPage& page) { return page.state(); },
                      [](const py::tuple& state) { return AutoPage::from_state(state); }));
  m.def("_histogram", &histogram, py::arg("a"));
  m.def("_otsu_of_histogram", &otsu_of_histogram, py::arg("histogram"));
  m.def("_widest_window", &widest_window, py::arg("a"), py::arg("window"), py::arg("top"),
        py::arg("left"), py::arg("inner_rows"), py::arg("inner_columns"));
  m.def("_deviation_of", &deviation_of, py::arg("widest"), py::arg("window"));
  m.def("_seconds_in_c", &seconds_in_c, py::arg("a"), py::arg("method"), py::arg("window"),
        py::arg("k"), py::arg("out"), py::arg("repeats"));
  m.def("_binarize_wolf_given", &binarize_wolf_given, py::arg("a"), py::arg("window"), py::arg("k"),
        py::arg("minimum"), py::arg("range"));
}

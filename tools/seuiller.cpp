// seuiller: binarises many greymap files in one run, on every processor.
//
//   seuiller [-j N] [-q] [-f FENETRE] [-k K] SEUIL DOSSIER IMAGE.pgm...
//
// Each IMAGE is read strictly and written as DOSSIER/<its base name>, every pixel 255 or 0, with
// the library's header. SEUIL is a number (every sample at or above it becomes 255: the bytes
// test_grey writes) or a method that chooses the threshold itself: otsu, or the local sauvola,
// niblack and wolf, with the window FENETRE (or, for -f auto, the one fenetre_conseillee measures
// on each image) and the factor K. A file that fails is named on standard error with the library's
// text for its failure, and the others are still written. Exit status: 0 when every image was
// written, 1 when one failed at least, 2 for a usage error (nothing read or written), 128 + the
// signal when interrupted (what was written stays whole).

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "standard_streams.h"

namespace {

constexpr int usage_status = 2;

const char usage_text[] =
    "Usage: seuiller [-j N] [-q] [-b] [-f FENETRE] [-k K] SEUIL DOSSIER IMAGE.pgm...\n"
    "       seuiller [-b] [-f FENETRE] [-k K] SEUIL - IMAGE.pgm|-\n"
    "Binarise chaque IMAGE et l'ecrit dans DOSSIER sous son nom de base ; avec - comme dossier,\n"
    "une seule IMAGE (- : l'entree standard) vers la sortie standard.\n"
    "SEUIL : un nombre (blanc a partir de SEUIL, comme test_grey), ou une methode qui le choisit "
    ":\n"
    "  otsu     seuil global d'Otsu (blanc au-dessus du niveau qui separe le mieux deux classes)\n"
    "  sauvola  seuil local T = m (1 + k (s / 127.5 - 1))   (fenetre 15, k 0.2 par defaut)\n"
    "  niblack  seuil local T = m - k s                      (fenetre 15, k 0.2 par defaut)\n"
    "  wolf     seuil local T = m - k (1 - s / Smax) (m - M) (fenetre 15, k 0.5 par defaut)\n"
    "  auto     sans parametre, pour les pages : le papier ramene a un niveau, puis noir la ou\n"
    "           Otsu et Wolf voient de l'encre\n"
    "  (m et s : moyenne et ecart type de la fenetre centree sur le pixel ; blanc au-dessus de T)\n"
    "  -j N        nombre de fils d'execution (par defaut : les processeurs disponibles)\n"
    "  -q          sans affichage de la progression\n"
    "  -b          ecrit des bitmaps (pbm, un bit par pixel) nommes IMAGE.pbm\n"
    "  -f FENETRE  cote impair de la fenetre des methodes locales, de 3 a 65535 ; auto : mesuree\n"
    "              sur chaque image d'apres la taille de son ecriture\n"
    "  -k K        facteur k des methodes locales\n";

std::string shown(const std::string& name);

int usage(const char* problem, const std::string& detail = "") {
  std::fprintf(stderr, "seuiller: %s%s\n%s", problem, shown(detail).c_str(), usage_text);
  return usage_status;
}

// A decimal integer, optional sign, nothing else, within [low, high].
std::optional<long> parse_integer(const char* text, long low, long high) {
  if (*text == '\0' || std::strchr(" \t\n\v\f\r", *text) != nullptr) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || value < low || value > high) return std::nullopt;
  return value;
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The line of a failed image: the library's text, or for memory that ran out, the allocation
// text of test_grey.
void print_failure(statut_image status, const std::string& name) {
  const char* text = status == IMAGE_MEMOIRE_INSUFFISANTE
                         ? "Allocation dynamique impossible pour un pointeur-tableau"
                         : decrire_statut_image(status);
  std::fprintf(stderr, "seuiller: %s %s\n", text, shown(name).c_str());
}

// A finite decimal number, nothing else.
std::optional<double> parse_number(const char* text) {
  if (*text == '\0' || std::strchr(" \t\n\v\f\r", *text) != nullptr) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
  for (const char* c = text; *c != '\0'; ++c) {
    if (std::strchr("0123456789+-.eE", *c) == nullptr) return std::nullopt;  // no hex, no inf
  }
  return value;
}

// How the images are binarised: a fixed threshold, or a method that chooses it.
struct Method {
  enum Kind { fixed, otsu, sauvola, niblack, wolf, automatic } kind = fixed;
  int threshold = 0;  // fixed
  int window = 15;    // the local methods; 0: the window measured on each image
  double k = 0.2;
};

std::optional<Method::Kind> method_named(const std::string& name) {
  if (name == "otsu") return Method::otsu;
  if (name == "sauvola") return Method::sauvola;
  if (name == "niblack") return Method::niblack;
  if (name == "wolf") return Method::wolf;
  if (name == "auto") return Method::automatic;
  return std::nullopt;
}

// The library's description of a method.
parametres_binarisation parameters_of(const Method& method) {
  static const methode_binarisation kinds[] = {BINARISATION_SEUIL,   BINARISATION_OTSU,
                                               BINARISATION_SAUVOLA, BINARISATION_NIBLACK,
                                               BINARISATION_WOLF,    BINARISATION_AUTO};
  return {kinds[method.kind], method.threshold, method.window, method.k};
}

// A local method with the window measured on the image (-f auto): the window needs the whole page,
// so the image is read into memory, binarised there and written whole. Into the file `name`, or
// into `out` when `name` is null.
statut_image binarise_measured(const Method& method, std::FILE* in, bool bitmap, const char* name,
                               std::FILE* out) {
  int rows = 0;
  int columns = 0;
  int maximum = 0;
  statut_image status = lire_entete_flux_pgm(in, &rows, &columns, &maximum);
  if (status != IMAGE_OK) return status;
  const std::size_t count = std::size_t(rows) * std::size_t(columns);
  std::vector<unsigned char> pixels;
  try {
    pixels.resize(count);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  status = charger_raster_flux_pgm(in, pixels.data(), count, maximum);
  if (status != IMAGE_OK) return status;
  const int window = fenetre_conseillee(pixels.data(), rows, columns);
  unsigned char* p = pixels.data();
  switch (method.kind) {
    case Method::sauvola:
      status = binariser_sauvola(p, p, rows, columns, window, method.k);
      break;
    case Method::niblack:
      status = binariser_niblack(p, p, rows, columns, window, method.k);
      break;
    default:
      status = binariser_wolf(p, p, rows, columns, window, method.k);
      break;
  }
  if (status != IMAGE_OK) return status;
  if (name != nullptr) {
    return bitmap ? enregistrer_image_pbm(name, p, rows, columns)
                  : enregistrer_image_pgm(name, p, rows, columns);
  }
  return bitmap ? enregistrer_flux_pbm(out, p, rows, columns)
                : enregistrer_flux_pgm(out, p, rows, columns);
}

// Makes `folder` and its parents, and notes each folder made in `made`, deepest last; false when
// it is not a folder or cannot be made.
bool make_folders(const std::string& folder, std::vector<std::string>* made) {
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::size_t slash = folder.find_last_not_of('/');
  const std::size_t parent_end = folder.rfind('/', slash);
  if (parent_end != std::string::npos && parent_end != 0 &&
      !make_folders(folder.substr(0, parent_end), made)) {
    return false;
  }
  if (mkdir(folder.c_str(), 0777) == 0) {
    made->push_back(folder);
    return true;
  }
  return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The output folder and its missing parents, all or none: a usage error leaves nothing made.
bool make_output_folder(const std::string& folder) {
  std::vector<std::string> made;
  if (make_folders(folder, &made)) return true;
  for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
  return false;
}

// `name` as it can be shown on a line of its own: control characters and backslashes escaped as
// C does (\n, \t, \\, octal for the others), so that a name cannot forge another line.
std::string shown(const std::string& name) {
  std::string text;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\n':
        text += "\\n";
        break;
      case '\t':
        text += "\\t";
        break;
      case '\r':
        text += "\\r";
        break;
      case '\\':
        text += "\\\\";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char octal[8];
          std::snprintf(octal, sizeof octal, "\\%03o", byte);
          text += octal;
        } else {
          text += c;
        }
    }
  }
  return text;
}

struct StreamCloser {
  void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};

// Opens the greymap `name` ("-": standard input). Every input is opened once and read in bands
// from there (a regular file twice for a method that needs the whole page first), so that a named
// pipe or /dev/stdin fed by a pipe is read as a file is.
statut_image open_image(const std::string& name, std::unique_ptr<std::FILE, StreamCloser>* stream,
                        std::FILE** in) {
  if (name == "-") {
    *in = stdin;
    return IMAGE_OK;
  }
  // "e": closed on exec, as every descriptor of the process.
  stream->reset(std::fopen(name.c_str(), "rbe"));
  if (!*stream) {
    if (errno == EMFILE || errno == ENFILE) return IMAGE_DESCRIPTEURS_EPUISES;
    return errno == ENOMEM ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_PAS_D_ACCES_EN_LECTURE;
  }
  *in = stream->get();
  return IMAGE_OK;
}

// A failure of the writing side names the output; the others, the image.
bool writing_failed(statut_image status) {
  return status == IMAGE_PAS_D_ACCES_EN_ECRITURE || status == IMAGE_ERREUR_D_ECRITURE;
}

// The name an image is written under: its base name, with its extension .pgm or .pnm (or none)
// replaced by .pbm for a bitmap.
std::string output_name(const std::string& image, bool bitmap) {
  std::string name = base_name(image);
  if (!bitmap) return name;
  for (const char* extension : {".pgm", ".pnm"}) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, extension) == 0) {
      name.resize(name.size() - 4);
      break;
    }
  }
  return name + ".pbm";
}

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop(int signal) {
  stop_signal = signal;
}

// What every worker shares: the images, the next one to take, and standard error.
struct Batch {
  Method method;
  bool bitmap = false;  // write bitmaps
  std::string folder;
  std::vector<std::string> images;
  std::vector<std::string> outputs;  // the name of each image's output in the folder
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<bool> failed{false};
  bool progress = false;
  std::mutex output;  // one line at a time on standard error
  std::condition_variable finished;
};

// The progress line, redrawn in place; cleared before any other line and at the end.
void clear_progress(const Batch& batch) {
  if (batch.progress) std::fputs("\r\033[K", stderr);
}

// One line for a failed image, between progress lines.
void report(Batch& batch, statut_image status, const std::string& name) {
  batch.failed = true;
  const std::lock_guard<std::mutex> lock(batch.output);
  clear_progress(batch);
  print_failure(status, name);
}

// One worker: takes the next image until none is left or a signal asks to stop. Each image is
// read, binarised and written in bands: memory does not grow with the images (but with -f auto,
// which reads each image whole).
void work(Batch& batch) {
  const parametres_binarisation parameters = parameters_of(batch.method);
  for (;;) {
    const std::size_t index = batch.next++;
    if (index >= batch.images.size() || stop_signal != 0) break;
    const std::string& name = batch.images[index];
    const std::string written = batch.folder + "/" + batch.outputs[index];
    std::unique_ptr<std::FILE, StreamCloser> stream;
    std::FILE* in = nullptr;
    statut_image status = open_image(name, &stream, &in);
    if (status == IMAGE_OK) {
      status = batch.method.window == 0
                   ? binarise_measured(batch.method, in, batch.bitmap, written.c_str(), nullptr)
                   : binariser_flux_vers_fichier(in, &parameters, batch.bitmap, written.c_str());
    }
    if (status != IMAGE_OK) report(batch, status, writing_failed(status) ? written : name);
    if (++batch.done == batch.images.size()) batch.finished.notify_all();
  }
  batch.finished.notify_all();
}

// One image through a pipeline: read from standard input ("-") or a file, binarised, written to
// standard output, which is not a file to replace but a stream. Exit status 0 or 1; a failure is
// one line on standard error, the image named "-" when it is standard input or output.
int pipe_through(const Method& method, const std::string& image, bool bitmap) {
  // Large writes: a bitmap is written row by row. Pipes of 1 MiB rather than 64 KiB: a
  // fraction of the switches between the processes of the pipeline (where the system allows).
  std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 20);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO}) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) fcntl(fd, F_SETPIPE_SZ, 1 << 20);
  }
  const parametres_binarisation parameters = parameters_of(method);
  std::unique_ptr<std::FILE, StreamCloser> stream;
  std::FILE* in = nullptr;
  statut_image status = open_image(image, &stream, &in);
  if (status == IMAGE_OK) {
    status = method.window == 0 ? binarise_measured(method, in, bitmap, nullptr, stdout)
                                : binariser_flux_vers_flux(in, &parameters, bitmap, stdout);
  }
  if (status == IMAGE_OK) return 0;
  print_failure(status, writing_failed(status) ? "-" : image.c_str());
  return 1;
}

// Keeps the progress line up to date until the workers are done or stopped.
void show_progress(Batch& batch) {
  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  std::unique_lock<std::mutex> lock(batch.output);
  for (;;) {
    const double seconds = std::chrono::duration<double>(clock::now() - start).count();
    const std::size_t done = batch.done;
    // A rate over less than a second, or a handful of images, means nothing yet.
    if (seconds >= 1 && done >= 1) {
      std::fprintf(stderr, "\r\033[K%zu/%zu images, %.0f images/s", done, batch.images.size(),
                   done / seconds);
    } else {
      std::fprintf(stderr, "\r\033[K%zu/%zu images", done, batch.images.size());
    }
    std::fflush(stderr);
    if (done == batch.images.size() || stop_signal != 0) break;
    batch.finished.wait_for(lock, std::chrono::milliseconds(100));
  }
}

unsigned default_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard error would be taken by an output file, and the error lines written into
  // images.
  if (!open_standard_descriptors()) return 1;
  // A closed pipe or a file-size limit is a write error of that image, with its line; the batch
  // goes on.
  ignore_broken_pipes();
  std::signal(SIGXFSZ, SIG_IGN);
  unsigned threads = default_threads();
  bool quiet = false;
  bool bitmap = false;
  std::optional<long> window;
  std::optional<double> k;
  int at = 1;
  for (; at < argc && argv[at][0] == '-' && argv[at][1] != '\0'; ++at) {
    const std::string option = argv[at];
    if (option == "--") {
      ++at;
      break;
    }
    if (option == "-q") {
      quiet = true;
    } else if (option == "-b") {
      bitmap = true;
    } else if (option.compare(0, 2, "-j") == 0) {
      const char* value = option.size() > 2 ? argv[at] + 2 : (at + 1 < argc ? argv[++at] : "");
      const std::optional<long> n = parse_integer(value, 1, 4096);
      if (!n) return usage("nombre de fils invalide : ", value);
      threads = static_cast<unsigned>(*n);
    } else if (option.compare(0, 2, "-f") == 0) {
      const char* value = option.size() > 2 ? argv[at] + 2 : (at + 1 < argc ? argv[++at] : "");
      window =
          std::string(value) == "auto" ? std::optional<long>(0) : parse_integer(value, 3, 65535);
      if (!window || (*window != 0 && *window % 2 == 0))
        return usage("fenetre invalide (impaire, de 3 a 65535, ou auto) : ", value);
    } else if (option.compare(0, 2, "-k") == 0) {
      const char* value = option.size() > 2 ? argv[at] + 2 : (at + 1 < argc ? argv[++at] : "");
      k = parse_number(value);
      if (!k) return usage("k invalide : ", value);
    } else if (parse_integer(option.c_str(), INT_MIN, INT_MAX)) {
      break;  // a negative threshold
    } else {
      return usage("option inconnue : ", option);
    }
  }
  if (argc - at < 3) return usage("il faut un seuil, un dossier et au moins une image");
  Batch batch;
  if (const std::optional<Method::Kind> kind = method_named(argv[at])) {
    batch.method.kind = *kind;
    if ((*kind == Method::otsu || *kind == Method::automatic) && (window || k)) {
      return usage("-f et -k ne valent que pour sauvola, niblack et wolf");
    }
    if (*kind == Method::wolf) batch.method.k = 0.5;
  } else {
    const std::optional<long> threshold = parse_integer(argv[at], INT_MIN, INT_MAX);
    if (!threshold) return usage("seuil invalide : ", argv[at]);
    if (window || k) return usage("-f et -k ne valent que pour sauvola, niblack et wolf");
    batch.method.threshold = static_cast<int>(*threshold);
  }
  if (window) batch.method.window = static_cast<int>(*window);
  if (k) batch.method.k = *k;
  batch.bitmap = bitmap;
  batch.folder = argv[at + 1];
  if (batch.folder == "-") {
    // A pipeline: one image, from standard input or a file, to standard output.
    if (argc - at != 3) return usage("- comme dossier prend une seule image");
    return pipe_through(batch.method, argv[at + 2], bitmap);
  }
  std::set<std::string> names;
  for (int i = at + 2; i < argc; ++i) {
    if (std::string(argv[i]) == "-") return usage("- comme image demande - comme dossier");
    const std::string base = base_name(argv[i]);
    if (base.empty() || base == "." || base == "..") return usage("pas de nom de base : ", argv[i]);
    const std::string name = output_name(argv[i], bitmap);
    if (!names.insert(name).second) return usage("deux images du meme nom : ", name);
    batch.images.emplace_back(argv[i]);
    batch.outputs.push_back(name);
  }
  if (!make_output_folder(batch.folder)) {
    return usage("dossier impossible a creer ou qui n'en est pas un : ", batch.folder);
  }

  // Interrupted, the workers finish the image they hold (each is written whole or not at all)
  // and take no other.
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  batch.progress = !quiet && isatty(STDERR_FILENO) != 0;
  threads = std::min<unsigned>(threads, static_cast<unsigned>(batch.images.size()));
  // Threads the system refuses (a process limit, little address space) are done without: the
  // batch goes on with those it got, this one at least.
  std::vector<std::thread> workers;
  try {
    for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work, std::ref(batch));
  } catch (const std::system_error&) {
  }
  std::thread progress;
  if (batch.progress) {
    try {
      progress = std::thread(show_progress, std::ref(batch));
    } catch (const std::system_error&) {
    }
  }
  work(batch);
  for (std::thread& worker : workers) worker.join();
  batch.finished.notify_all();
  if (progress.joinable()) progress.join();
  {
    const std::lock_guard<std::mutex> lock(batch.output);
    clear_progress(batch);
  }
  if (stop_signal != 0) return 128 + stop_signal;
  return batch.failed ? 1 : 0;
}

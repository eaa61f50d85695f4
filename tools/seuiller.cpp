// seuiller: binarises many image files in one run, on every processor.
//
//   seuiller [-j N] [-q] [-t pgm|pbm|png|tiff] [-f FENETRE] [-k K] SEUIL DOSSIER IMAGE...
//
// Each IMAGE, in any format the library reads (its content says which), is written as
// DOSSIER/<its base name>, every pixel 255 or 0: a greymap with the library's header by default,
// or the format -t names, under the name with that format's extension. An 8-bit greymap written
// as a greymap or a bitmap is read and written in bands; any other file is read whole as a
// greymap. Every page of a multi-page TIFF is binarised: into one multi-page file for -t tiff,
// into <name>-p<N> files otherwise. SEUIL is a number (every sample at or above it becomes 255: the
// bytes test_grey writes) or a method that chooses the threshold itself: otsu, or the local
// sauvola, niblack and wolf, with the window FENETRE (or, for -f auto, the one fenetre_conseillee
// measures on each image) and the factor K. A file that fails is named on standard error with the
// library's text for its failure, and the others are still written. Exit status: 0 when every image
// was written, 1 when one failed at least, 2 for a usage error (nothing read or written), 128 + the
// signal when interrupted (what was written stays whole). --help prints the usage, --version the
// version.

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
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

#include "buffer.h"
#include "image_input.h"
#include "input.h"
#include "standard_streams.h"

namespace {

constexpr int usage_status = 2;

const char usage_text[] =
    "Usage: seuiller [-j N] [-q] [-b] [-t FORMAT] [-f FENETRE] [-k K] SEUIL DOSSIER IMAGE...\n"
    "       seuiller [-b] [-t FORMAT] [-f FENETRE] [-k K] SEUIL - IMAGE|-\n"
    "       seuiller --help | --version\n"
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
    "  -t FORMAT   format ecrit : pgm (par defaut), pbm (un bit par pixel), png (un bit par\n"
    "              pixel) ou tiff (Groupe 4) ; le nom prend l'extension du format\n"
    "  -b          comme -t pbm\n"
    "  -f FENETRE  cote impair de la fenetre des methodes locales, de 3 a 65535 ; auto : mesuree\n"
    "              sur chaque image d'apres la taille de son ecriture\n"
    "  -k K        facteur k des methodes locales\n"
    "IMAGE : pgm, pbm, ppm, pam, png, tiff (toutes ses pages) ou jpeg, reconnu a son contenu.\n"
    "Les methodes s'ecrivent en minuscules ou en majuscules. Un tube nomme est lu comme un flux\n"
    "quand un processus y ecrit ; sans ecrivain, l'image echoue au lieu d'attendre.\n"
    "Etat de sortie : 0 tout est ecrit, 1 une image au moins a echoue, 2 erreur d'usage,\n"
    "130 ou 143 interrompu.\n";

std::string shown(const std::string& name);

// A usage error: its one line, and where the whole usage is.
int usage(const std::string& problem, const std::string& detail = "") {
  std::fprintf(stderr,
               "seuiller: %s%s\n"
               "Essayez 'seuiller --help' pour l'usage complet.\n",
               problem.c_str(), shown(detail).c_str());
  return usage_status;
}

// Ends a run that wrote to standard output: 0, or 1 with a line when the text could not all be
// written (standard output closed, a full disk, a pipe without reader).
int finish_output(bool output_closed) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && !output_closed) return 0;
  std::fputs("seuiller: Erreur d'ecriture sur la sortie standard\n", stderr);
  return 1;
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

// What became of an image: IMAGE_OK, a library status, or a named pipe that nobody writes to.
struct Result {
  statut_image status = IMAGE_OK;
  bool no_writer = false;
  bool ok() const { return status == IMAGE_OK && !no_writer; }
};

// The line of a failed image: the library's text, or for memory that ran out, the allocation
// text of test_grey.
void print_failure(const Result& result, const std::string& name) {
  const char* text = result.no_writer ? "Aucun processus n'ecrit dans le tube de l'image"
                     : result.status == IMAGE_MEMOIRE_INSUFFISANTE
                         ? "Allocation dynamique impossible pour un pointeur-tableau"
                         : decrire_statut_image(result.status);
  std::fprintf(stderr, "seuiller: %s %s\n", text, shown(name).c_str());
}

// A finite decimal number, nothing else. One too small for a double (1e-310, 1e-400) is finite:
// it is taken rounded, and only an overflow is refused.
std::optional<double> parse_number(const char* text) {
  if (*text == '\0' || std::strchr(" \t\n\v\f\r", *text) != nullptr) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  const bool overflow = errno == ERANGE && std::fabs(value) > 1;
  if (*end != '\0' || overflow || !std::isfinite(value)) return std::nullopt;
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

const struct {
  const char* name;
  Method::Kind kind;
} methods[] = {{"otsu", Method::otsu},
               {"sauvola", Method::sauvola},
               {"niblack", Method::niblack},
               {"wolf", Method::wolf},
               {"auto", Method::automatic}};

std::string lower_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The method of that name, in any case.
std::optional<Method::Kind> method_named(const std::string& name) {
  const std::string lower = lower_case(name);
  for (const auto& method : methods) {
    if (lower == method.name) return method.kind;
  }
  return std::nullopt;
}

// The number of letters to insert, delete or replace to make `a` into `b`.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The method `name` was probably meant to be: the nearest, within one letter of a short name or
// two of a long one; none for a word far from all of them (a mistyped number).
const char* suggested_method(const std::string& name) {
  const std::string lower = lower_case(name);
  const char* nearest = nullptr;
  std::size_t best = SIZE_MAX;
  for (const auto& method : methods) {
    const std::size_t distance = edit_distance(lower, method.name);
    if (distance <= std::max<std::size_t>(1, std::strlen(method.name) / 3) && distance < best) {
      nearest = method.name;
      best = distance;
    }
  }
  return nearest;
}

// The library's description of a method.
parametres_binarisation parameters_of(const Method& method) {
  static const methode_binarisation kinds[] = {BINARISATION_SEUIL,   BINARISATION_OTSU,
                                               BINARISATION_SAUVOLA, BINARISATION_NIBLACK,
                                               BINARISATION_WOLF,    BINARISATION_AUTO};
  return {kinds[method.kind], method.threshold, method.window, method.k};
}

// Binarises a whole raster in place: a file of another format than an 8-bit greymap, or a page
// whose window is measured on it (-f auto).
statut_image binarise(const Method& method, unsigned char* pixels, int rows, int columns) {
  const std::size_t count = std::size_t(rows) * std::size_t(columns);
  const int window = method.window == 0 ? fenetre_conseillee(pixels, rows, columns) : method.window;
  switch (method.kind) {
    case Method::fixed:
      binariser(pixels, pixels, count, method.threshold);
      return IMAGE_OK;
    case Method::otsu:
      binariser(pixels, pixels, count, calculer_seuil_otsu(pixels, count));
      return IMAGE_OK;
    case Method::sauvola:
      return binariser_sauvola(pixels, pixels, rows, columns, window, method.k);
    case Method::niblack:
      return binariser_niblack(pixels, pixels, rows, columns, window, method.k);
    case Method::wolf:
      return binariser_wolf(pixels, pixels, rows, columns, window, method.k);
    case Method::automatic:
      return binariser_auto(pixels, pixels, rows, columns);
  }
  return IMAGE_PARAMETRE_INVALIDE;
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

// A failure of the writing side names the output; the others, the image.
bool writing_failed(statut_image status) {
  return status == IMAGE_PAS_D_ACCES_EN_ECRITURE || status == IMAGE_ERREUR_D_ECRITURE;
}

// The formats written, with their extensions.
enum class Output { pgm, pbm, png, tiff };

const char* extension_of(Output output) {
  switch (output) {
    case Output::pbm:
      return ".pbm";
    case Output::png:
      return ".png";
    case Output::tiff:
      return ".tif";
    case Output::pgm:
      break;
  }
  return ".pgm";
}

std::optional<Output> output_named(const std::string& name) {
  if (name == "pgm") return Output::pgm;
  if (name == "pbm") return Output::pbm;
  if (name == "png") return Output::png;
  if (name == "tiff" || name == "tif") return Output::tiff;
  return std::nullopt;
}

bool ends_with(const std::string& name, const char* extension) {
  const std::size_t n = std::strlen(extension);
  if (name.size() <= n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(name[name.size() - n + i]);
    if (std::tolower(c) != extension[i]) return false;
  }
  return true;
}

// The name an image is written under: its base name, with the extension of an image format
// replaced by that of the output. A greymap keeps the name as before when it ends in .pgm or
// .pnm, or in no image extension.
std::string output_name(const std::string& image, Output output) {
  std::string name = base_name(image);
  for (const char* extension :
       {".pgm", ".pnm", ".pbm", ".ppm", ".pam", ".png", ".tiff", ".tif", ".jpeg", ".jpg"}) {
    if (!ends_with(name, extension)) continue;
    const bool greymap = std::strcmp(extension, ".pgm") == 0 || std::strcmp(extension, ".pnm") == 0;
    if (output == Output::pgm && greymap) return name;
    name.resize(name.size() - std::strlen(extension));
    return name + extension_of(output);
  }
  return output == Output::pgm ? name : name + extension_of(output);
}

// The name of page `page` (from 1) of a multi-page input: "-p<page>" before the extension.
std::string page_name(const std::string& name, int page) {
  const std::size_t dot = name.rfind('.');
  const std::size_t stem = dot == std::string::npos || dot == 0 ? name.size() : dot;
  return name.substr(0, stem) + "-p" + std::to_string(page) + name.substr(stem);
}

// Writes a whole binarised image as `name`, in the format `output`.
statut_image write_image(Output output, const std::string& name, const unsigned char* pixels,
                         int rows, int columns) {
  switch (output) {
    case Output::pgm:
      return enregistrer_image_pgm(name.c_str(), pixels, rows, columns);
    case Output::pbm:
      return enregistrer_image_pbm(name.c_str(), pixels, rows, columns);
    case Output::png:
    case Output::tiff:
      break;
  }
  return enregistrer_image_binaire(name.c_str(), pixels, rows, columns);
}

// The pages of an input, each read and binarised when the multi-page writer asks for it.
struct PageReader {
  const ImageInput* input;
  const Method* method;
  Buffer* buffer;
};

statut_image next_page(void* context, int page, const unsigned char** image, int* rows,
                       int* columns) {
  auto* reader = static_cast<PageReader*>(context);
  statut_image status = reader->input->read(page, reader->buffer, rows, columns);
  if (status == IMAGE_OK) {
    status = binarise(*reader->method, reader->buffer->data(), *rows, *columns);
  }
  *image = reader->buffer->data();
  return status;
}

// What failed, and the name to report it under: the input's or the output's.
struct Failure {
  statut_image status = IMAGE_OK;
  std::string name;
};

// Reads, binarises and writes every page of `input` (named `image`) as `written`: in bands for
// an 8-bit greymap; otherwise whole, a file a page or one multi-page TIFF. The first failure
// stops the image.
Failure convert(const ImageInput& input, const std::string& image, const std::string& written,
                Output output, const Method& method, Buffer* buffer) {
  if (input.greymap() != nullptr) {
    const parametres_binarisation parameters = parameters_of(method);
    const statut_image status = binariser_flux_vers_fichier(input.greymap(), &parameters,
                                                            output == Output::pbm, written.c_str());
    return {status, writing_failed(status) ? written : image};
  }
  if (input.pages() > 1 && output == Output::tiff) {
    PageReader reader{&input, &method, buffer};
    const statut_image status =
        enregistrer_pages_binaires(written.c_str(), input.pages(), next_page, &reader);
    return {status, writing_failed(status) ? written : image};
  }
  for (int page = 0; page < input.pages(); ++page) {
    int rows = 0;
    int columns = 0;
    statut_image status = input.read(page, buffer, &rows, &columns);
    if (status == IMAGE_OK) status = binarise(method, buffer->data(), rows, columns);
    if (status != IMAGE_OK) return {status, image};
    const std::string name = input.pages() > 1 ? page_name(written, page + 1) : written;
    status = write_image(output, name, buffer->data(), rows, columns);
    if (status != IMAGE_OK) return {status, name};
  }
  return {};
}

// Whether an 8-bit greymap may go through in bands: when it is written as a greymap or a bitmap,
// and its window is not measured on the whole page first (-f auto).
bool in_bands(Output output, const Method& method) {
  return (output == Output::pgm || output == Output::pbm) && method.window != 0;
}

// SIGINT and SIGTERM end the run at once, with 128 + the signal, whatever its threads wait for (a
// pipe whose writer stalls, a slow disk). A pipeline has nothing to clean: its handler ends the
// process. A batch writes each output while it reads its image, under a temporary name where the
// file system has no unnamed files: there one thread takes the two signals (blocked in every
// other), and interrupts each worker's wait with SIGURG, a signal of its own that restarts
// nothing, again and again until every worker has stopped. An interrupted read fails, the
// library removes the output under way, and an output whose image was read whole is finished.
std::atomic<int> stop_signal{0};

extern "C" void on_stop_at_once(int signal) {
  _exit(128 + signal);
}

// Only notes the signal: the run stops at its next image.
extern "C" void on_stop_later(int signal) {
  stop_signal = signal;
}

// Only interrupts: the call it cuts short fails with EINTR.
extern "C" void on_interrupt(int) {}

// The signals that stop a run: SIGINT and SIGTERM, unless they were ignored when the command
// started (a job run with nohup or in the background of a script stays so).
sigset_t stopping_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaddset(&set, signal);
  }
  return set;
}

void handle(const sigset_t& signals, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM}) {
    if (sigismember(&signals, signal) == 1) sigaction(signal, &action, nullptr);
  }
}

// The threads that read images, for the signal thread to interrupt. Never destroyed: that thread
// may still run while the process ends.
class Readers {
 public:
  static Readers& all() {
    static Readers* const readers = new Readers;
    return *readers;
  }
  void enter() {
    const std::lock_guard<std::mutex> lock(mutex_);
    threads_.push_back(pthread_self());
  }
  void leave() {
    const std::lock_guard<std::mutex> lock(mutex_);
    threads_.erase(std::find_if(threads_.begin(), threads_.end(),
                                [](pthread_t t) { return pthread_equal(t, pthread_self()); }));
  }
  // Interrupts each reader (none can end meanwhile: leave() waits); how many there were.
  std::size_t interrupt() {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const pthread_t thread : threads_) pthread_kill(thread, SIGURG);
    return threads_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<pthread_t> threads_;
};

// A worker's presence among the readers, for its lifetime.
struct Reading {
  Reading() { Readers::all().enter(); }
  ~Reading() { Readers::all().leave(); }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
};

// The signal thread: waits for SIGINT or SIGTERM, then interrupts the readers until none is left.
// A reader that starts later sees the stop before it reads.
void take_signals(sigset_t signals) {
  int signal = 0;
  if (sigwait(&signals, &signal) != 0) return;
  stop_signal = signal;
  while (Readers::all().interrupt() != 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Sets the batch's signal handling up before any other thread starts; false when the signal thread
// cannot be made, and each signal then only stops the run at its next image (and cuts short the
// wait of the thread that receives it).
bool take_signals_in_a_thread() {
  const sigset_t signals = stopping_signals();
  struct sigaction interrupt {};
  interrupt.sa_handler = on_interrupt;  // no SA_RESTART: the interrupted call fails
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGURG, &interrupt, nullptr);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  try {
    std::thread(take_signals, signals).detach();
    return true;
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    handle(signals, on_stop_later, 0);
    return false;
  }
}

// What every worker shares: the images, the next one to take, and standard error.
struct Batch {
  Method method;
  Output format = Output::pgm;  // of the files written
  std::string folder;
  std::vector<std::string> images;
  std::vector<std::string> outputs;  // the name of each image's output in the folder
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<std::size_t> failures{0};
  bool progress = false;
  std::mutex output;  // one line at a time on standard error
  std::condition_variable finished;
};

// The progress line, redrawn in place; cleared before any other line and at the end.
void clear_progress(const Batch& batch) {
  if (batch.progress) std::fputs("\r\033[K", stderr);
}

// One line for a failed image, between progress lines. A stopped run says nothing more: a read
// that the signal cut short is no failure of the image.
void report(Batch& batch, const Result& result, const std::string& name) {
  ++batch.failures;
  if (stop_signal != 0) return;
  const std::lock_guard<std::mutex> lock(batch.output);
  clear_progress(batch);
  print_failure(result, name);
}

// One worker: takes the next image until none is left or a signal asks to stop. Each image is
// read, binarised and written in bands: memory does not grow with the images (but with -f auto,
// which reads each image whole).
void work(Batch& batch) {
  const Reading reading;
  Buffer buffer;
  for (;;) {
    const std::size_t index = batch.next++;
    if (index >= batch.images.size() || stop_signal != 0) break;
    const std::string& name = batch.images[index];
    ImageInput input;
    bool no_writer = false;
    Failure failure{input.open(name, in_bands(batch.format, batch.method), &no_writer), name};
    if (failure.status == IMAGE_OK && !no_writer) {
      failure = convert(input, name, batch.folder + "/" + batch.outputs[index], batch.format,
                        batch.method, &buffer);
    }
    if (failure.status != IMAGE_OK || no_writer) {
      report(batch, {failure.status, no_writer}, failure.name);
    }
    if (++batch.done == batch.images.size()) batch.finished.notify_all();
  }
  batch.finished.notify_all();
}

// One image through a pipeline: read from standard input ("-") or a file, binarised, written to
// standard output, which is not a file to replace but a stream. Exit status 0 or 1; a failure is
// one line on standard error, the image named "-" when it is standard input or output. A closed
// standard output (now /dev/null) is a write error before anything is read: the result would be
// lost.
int pipe_through(const Method& method, const std::string& image, Output output,
                 bool output_closed) {
  if (output_closed) {
    print_failure({IMAGE_ERREUR_D_ECRITURE}, "-");
    return 1;
  }
  // Large writes: a bitmap is written row by row. Pipes of 1 MiB rather than 64 KiB: a
  // fraction of the switches between the processes of the pipeline (where the system allows).
  std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 20);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO}) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) fcntl(fd, F_SETPIPE_SZ, 1 << 20);
  }
  ImageInput input;
  bool no_writer = false;
  Failure failure{input.open(image, in_bands(output, method), &no_writer), image};
  Buffer buffer;
  const bool bitmap = output == Output::pbm;
  if (failure.status != IMAGE_OK || no_writer) {
  } else if (input.greymap() != nullptr) {
    const parametres_binarisation parameters = parameters_of(method);
    const statut_image status =
        binariser_flux_vers_flux(input.greymap(), &parameters, bitmap, stdout);
    failure = {status, writing_failed(status) ? "-" : image};
  } else if (output == Output::png && input.pages() > 1) {
    std::fprintf(stderr, "seuiller: plusieurs pages, qu'un PNG ne peut tenir : %s\n",
                 shown(image).c_str());
    return 1;
  } else if (output == Output::pgm || output == Output::pbm) {
    for (int page = 0; failure.status == IMAGE_OK && page < input.pages(); ++page) {
      int rows = 0;
      int columns = 0;
      failure.status = input.read(page, &buffer, &rows, &columns);
      if (failure.status == IMAGE_OK) {
        failure.status = binarise(method, buffer.data(), rows, columns);
      }
      if (failure.status == IMAGE_OK) {
        failure = {(bitmap ? enregistrer_flux_pbm : enregistrer_flux_pgm)(stdout, buffer.data(),
                                                                          rows, columns),
                   "-"};
      }
    }
  } else {
    TemporaryFile made;
    if (!made.create(extension_of(output))) {
      failure = {IMAGE_PAS_D_ACCES_EN_ECRITURE, "-"};
    } else {
      failure = convert(input, image, made.name(), output, method, &buffer);
      if (failure.status == IMAGE_OK && !copy_to_standard_output(made.name())) {
        failure = {IMAGE_ERREUR_D_ECRITURE, "-"};
      }
      if (failure.name == made.name()) failure.name = "-";
    }
  }
  if (failure.status == IMAGE_OK && !no_writer) return 0;
  print_failure({failure.status, no_writer}, failure.name);
  return 1;
}

// A duration in whole seconds, minutes or hours, as the progress line shows it.
std::string duration_text(double seconds) {
  const long s = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%ld s", s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
  }
  return text;
}

// Keeps the progress line up to date until the workers are done or stopped: images done, the
// rate and the time left at that rate.
void show_progress(Batch& batch) {
  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  std::unique_lock<std::mutex> lock(batch.output);
  for (;;) {
    const double seconds = std::chrono::duration<double>(clock::now() - start).count();
    const std::size_t done = batch.done;
    const std::size_t total = batch.images.size();
    // A rate over less than a second, or a handful of images, means nothing yet.
    if (seconds >= 1 && done >= 1) {
      const double rate = done / seconds;
      std::fprintf(stderr, "\r\033[K%zu/%zu images, %.0f images/s, reste %s", done, total, rate,
                   duration_text((total - done) / rate).c_str());
    } else {
      std::fprintf(stderr, "\r\033[K%zu/%zu images", done, total);
    }
    std::fflush(stderr);
    if (done == total || stop_signal != 0) break;
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

// What the options ask for.
struct Settings {
  unsigned threads = default_threads();
  bool quiet = false;
  std::optional<Output> output;
  std::optional<long> window;
  std::optional<double> k;
};

// An option: its letter, whether a value follows (in the same argument or the next), and what it
// does with that value; a problem it finds is the line of a usage error ("" when none).
struct Option {
  char letter;
  bool takes_value;
  std::string (*apply)(const char* value, Settings* settings);
};

const Option options[] = {
    {'j', true,
     [](const char* value, Settings* s) -> std::string {
       const std::optional<long> n = parse_integer(value, 1, 4096);
       if (!n) return "nombre de fils invalide : " + shown(value);
       s->threads = static_cast<unsigned>(*n);
       return "";
     }},
    {'q', false,
     [](const char*, Settings* s) -> std::string {
       s->quiet = true;
       return "";
     }},
    {'b', false,
     [](const char*, Settings* s) -> std::string {
       if (s->output && *s->output != Output::pbm) return "-b et -t ne vont pas ensemble";
       s->output = Output::pbm;
       return "";
     }},
    {'t', true,
     [](const char* value, Settings* s) -> std::string {
       const std::optional<Output> named = output_named(value);
       if (!named) return "format invalide (pgm, pbm, png ou tiff) : " + shown(value);
       if (s->output && *s->output != *named) return "-b et -t ne vont pas ensemble";
       s->output = named;
       return "";
     }},
    {'f', true,
     [](const char* value, Settings* s) -> std::string {
       s->window =
           std::string(value) == "auto" ? std::optional<long>(0) : parse_integer(value, 3, 65535);
       if (!s->window || (*s->window != 0 && *s->window % 2 == 0)) {
         return "fenetre invalide (impaire, de 3 a 65535, ou auto) : " + shown(value);
       }
       return "";
     }},
    {'k', true,
     [](const char* value, Settings* s) -> std::string {
       s->k = parse_number(value);
       return s->k ? "" : "k invalide : " + shown(value);
     }},
};

const Option* option_of(const std::string& argument) {
  for (const Option& option : options) {
    if (argument[1] == option.letter && (option.takes_value || argument.size() == 2)) {
      return &option;
    }
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard error would be taken by an output file, and the error lines written into
  // images.
  unsigned closed = 0;
  if (!open_standard_descriptors(&closed)) return 1;
  const bool output_closed = (closed & (1u << STDOUT_FILENO)) != 0;
  // A closed pipe or a file-size limit is a write error of that image, with its line; the batch
  // goes on.
  ignore_broken_pipes();
  std::signal(SIGXFSZ, SIG_IGN);
  Settings settings;
  int at = 1;
  for (; at < argc && argv[at][0] == '-' && argv[at][1] != '\0'; ++at) {
    const std::string argument = argv[at];
    if (argument == "--") {
      ++at;
      break;
    }
    if (argument == "--help") {
      std::fputs(usage_text, stdout);
      return finish_output(output_closed);
    }
    if (argument == "--version") {
      std::printf("seuiller %s\n", PROJECT_VERSION);
      return finish_output(output_closed);
    }
    if (const Option* option = option_of(argument)) {
      const char* value = "";
      if (option->takes_value) {
        value = argument.size() > 2 ? argv[at] + 2 : (at + 1 < argc ? argv[++at] : "");
      }
      const std::string problem = option->apply(value, &settings);
      if (!problem.empty()) return usage(problem);
    } else if (parse_integer(argument.c_str(), INT_MIN, INT_MAX)) {
      break;  // a negative threshold
    } else {
      return usage("option inconnue : ", argument);
    }
  }
  if (argc - at < 3) return usage("il faut un seuil, un dossier et au moins une image");
  Batch batch;
  if (const std::optional<Method::Kind> kind = method_named(argv[at])) {
    batch.method.kind = *kind;
    if ((*kind == Method::otsu || *kind == Method::automatic) && (settings.window || settings.k)) {
      return usage("-f et -k ne valent que pour sauvola, niblack et wolf");
    }
    if (*kind == Method::wolf) batch.method.k = 0.5;
  } else {
    const std::optional<long> threshold = parse_integer(argv[at], INT_MIN, INT_MAX);
    if (!threshold) {
      if (const char* meant = suggested_method(argv[at])) {
        return usage("methode inconnue : " + shown(argv[at]) + " (voulez-vous dire " + meant +
                     " ?)");
      }
      return usage("seuil invalide : ", argv[at]);
    }
    if (settings.window || settings.k) {
      return usage("-f et -k ne valent que pour sauvola, niblack et wolf");
    }
    batch.method.threshold = static_cast<int>(*threshold);
  }
  if (settings.window) batch.method.window = static_cast<int>(*settings.window);
  if (settings.k) batch.method.k = *settings.k;
  batch.format = settings.output.value_or(Output::pgm);
  batch.folder = argv[at + 1];
  if (batch.folder == "-") {
    // A pipeline: one image, from standard input or a file, to standard output.
    if (argc - at != 3) return usage("- comme dossier prend une seule image");
    handle(stopping_signals(), on_stop_at_once, 0);
    return pipe_through(batch.method, argv[at + 2], batch.format, output_closed);
  }
  std::set<std::string> names;
  for (int i = at + 2; i < argc; ++i) {
    if (std::string(argv[i]) == "-") return usage("- comme image demande - comme dossier");
    const std::string base = base_name(argv[i]);
    if (base.empty() || base == "." || base == "..") return usage("pas de nom de base : ", argv[i]);
    const std::string name = output_name(argv[i], batch.format);
    if (!names.insert(name).second) return usage("deux images du meme nom : ", name);
    batch.images.emplace_back(argv[i]);
    batch.outputs.push_back(name);
  }
  if (!make_output_folder(batch.folder)) {
    return usage("dossier impossible a creer ou qui n'en est pas un : ", batch.folder);
  }

  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  batch.progress = !settings.quiet && isatty(STDERR_FILENO) != 0;
  take_signals_in_a_thread();
  const unsigned threads = std::min(
      settings.threads, static_cast<unsigned>(std::min<std::size_t>(batch.images.size(), 4096)));
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
    if (stop_signal != 0) return 128 + stop_signal;
    // On a terminal, the batch leaves one line behind.
    if (batch.progress) {
      const double seconds = std::chrono::duration<double>(clock::now() - start).count();
      const std::size_t failures = batch.failures;
      std::fprintf(stderr, "%zu images ecrites, %zu en echec, en %.1f s\n",
                   batch.images.size() - failures, failures, seconds);
    }
  }
  return batch.failures != 0 ? 1 : 0;
}

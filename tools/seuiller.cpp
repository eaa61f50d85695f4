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

#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

#include <imagefiles/imagefiles.h>

#include "seuiller_batch.h"
#include "seuiller_conversion.h"
#include "seuiller_options.h"
#include "standard_streams.h"

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
    stop_at_once_on_signals();
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
  return run_batch(batch, settings.threads, settings.quiet);
}

// seuiller's images: each read, binarised and written, by the library's functions.

#include "seuiller_conversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <imagefiles/extension.h>

namespace {

using imagefiles::detail::ends_with;

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

// A failure of the writing side names the output; the others, the image.
bool writing_failed(statut_image status) {
  return status == IMAGE_PAS_D_ACCES_EN_ECRITURE || status == IMAGE_ERREUR_D_ECRITURE;
}

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

}  // namespace

void print_failure(const Result& result, const std::string& name) {
  const char* text = result.no_writer ? "Aucun processus n'ecrit dans le tube de l'image"
                     : result.status == IMAGE_MEMOIRE_INSUFFISANTE
                         ? "Allocation dynamique impossible pour un pointeur-tableau"
                         : decrire_statut_image(result.status);
  std::fprintf(stderr, "seuiller: %s %s\n", text, shown(name).c_str());
}

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

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

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

Failure convert(const ImageInput& input, const std::string& image, const std::string& written,
                Output output, const Method& method, Buffer* buffer) {
  if (input.greymap() != nullptr) {
    const parametres_binarisation parameters = parameters_of(method);
    const statut_image status = binariser_flux_vers_fichier(input.greymap(), &parameters,
                                                            output == Output::pbm, written.c_str());
    return {status, writing_failed(status) ? written : image};
  }
  // Every page in bands, each to its own file, when its window is known beforehand.
  if (method.window != 0 && !(input.pages() > 1 && output == Output::tiff)) {
    const parametres_binarisation parameters = parameters_of(method);
    for (int page = 0; page < input.pages(); ++page) {
      const std::string name = input.pages() > 1 ? page_name(written, page + 1) : written;
      const statut_image status = binariser_fichier(input.path().c_str(), page, &parameters,
                                                    output == Output::pbm, name.c_str());
      if (status != IMAGE_OK) return {status, writing_failed(status) ? name : image};
    }
    return {};
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

bool in_bands(Output output, const Method& method) {
  return (output == Output::pgm || output == Output::pbm) && method.window != 0;
}

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
    if (!made.create("seuiller-", extension_of(output))) {
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

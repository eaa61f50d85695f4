// seuiller's command line: the usage text, the options and the names of the methods.

#include "seuiller_options.h"

#include <sched.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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

namespace {

constexpr int usage_status = 2;

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

std::optional<Output> output_named(const std::string& name) {
  if (name == "pgm") return Output::pgm;
  if (name == "pbm") return Output::pbm;
  if (name == "png") return Output::png;
  if (name == "tiff" || name == "tif") return Output::tiff;
  return std::nullopt;
}

}  // namespace

int usage(const std::string& problem, const std::string& detail) {
  std::fprintf(stderr,
               "seuiller: %s%s\n"
               "Essayez 'seuiller --help' pour l'usage complet.\n",
               problem.c_str(), shown(detail).c_str());
  return usage_status;
}

int finish_output(bool output_closed) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && !output_closed) return 0;
  std::fputs("seuiller: Erreur d'ecriture sur la sortie standard\n", stderr);
  return 1;
}

std::optional<long> parse_integer(const char* text, long low, long high) {
  if (*text == '\0' || std::strchr(" \t\n\v\f\r", *text) != nullptr) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || value < low || value > high) return std::nullopt;
  return value;
}

std::optional<Method::Kind> method_named(const std::string& name) {
  const std::string lower = lower_case(name);
  for (const auto& method : methods) {
    if (lower == method.name) return method.kind;
  }
  return std::nullopt;
}

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

unsigned default_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

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

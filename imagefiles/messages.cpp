// The French text of every status, and the one place where a failure ends the process.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "imagefiles/internal.h"

const char* decrire_statut_image(statut_image statut) {
  switch (statut) {
    case IMAGE_OK:
      return "Aucune erreur sur l'image";
    case IMAGE_PAS_D_ACCES_EN_LECTURE:
      return "Pas d'acces en lecture sur l'image";
    case IMAGE_ERREUR_DE_LECTURE:
      return "Erreur de lecture de l'image";
    case IMAGE_PAS_D_ACCES_EN_ECRITURE:
      return "Pas d'acces en ecriture sur l'image";
    case IMAGE_ERREUR_D_ECRITURE:
      return "Erreur d'ecriture de l'image";
    case IMAGE_PAS_PGM:
      return "Format pgm binaire 8 bits attendu pour l'image";
    case IMAGE_PAS_PPM:
      return "Format ppm binaire 8 bits attendu pour l'image";
    case IMAGE_16_BITS:
      return "Echantillons sur 16 bits non pris en charge dans l'image";
    case IMAGE_TAILLE_HORS_LIMITES:
      return "Taille hors limites pour l'image";
    case IMAGE_TAMPON_TROP_PETIT:
      return "Tampon trop petit pour l'image";
    case IMAGE_PARAMETRE_INVALIDE:
      return "Parametre invalide pour l'image";
    case IMAGE_MEMOIRE_INSUFFISANTE:
      return "Memoire insuffisante pour l'image";
    case IMAGE_DESCRIPTEURS_EPUISES:
      return "Plus de descripteur de fichier libre pour l'image";
    case IMAGE_PAS_PBM:
      return "Format pbm attendu pour l'image";
    case IMAGE_FORMAT_NON_PRIS_EN_CHARGE:
      return "Format non pris en charge dans cette construction pour l'image";
    case IMAGE_VARIANTE_NON_PRISE_EN_CHARGE:
      return "Variante de format non prise en charge pour l'image";
    case IMAGE_DONNEES_ENDOMMAGEES:
      return "Donnees endommagees dans l'image";
    case IMAGE_FORMAT_INCONNU:
      return "Format inconnu pour l'image";
    case IMAGE_PAGE_ABSENTE:
      return "Page absente de l'image";
  }
  return "Statut inconnu pour l'image";
}

namespace imagefiles::detail {

statut_image open_failure(statut_image no_access) {
  if (errno == EMFILE || errno == ENFILE) return IMAGE_DESCRIPTEURS_EPUISES;
  if (errno == ENOMEM) return IMAGE_MEMOIRE_INSUFFISANTE;
  return no_access;
}

void end_process(statut_image status, const char* name) {
  // The process ends here: a closed pipe on standard output must not end it first, by signal,
  // before the message has gone to standard error.
  std::signal(SIGPIPE, SIG_IGN);
  const char* const text = decrire_statut_image(status);
  if (name == nullptr) name = "(null)";
  const bool shown = std::printf("\n%s %s \n", text, name) >= 0 && std::fflush(stdout) == 0;
  if (!shown) std::fprintf(stderr, "\n%s %s \n", text, name);
  std::exit(1);
}

}  // namespace imagefiles::detail

/* dimensions: prints the dimensions of each greymap file named, or why it cannot be read, and goes
 * on to the next.
 *
 *   dimensions IMAGE.pgm...
 *
 * One line a file on standard output: "<name>: <width> x <height>, maximum value <max>", or the
 * library's message for the file. Ends with status 0 when every file was read, 1 otherwise. */

#include <imagefiles/imagefiles.h>
#include <stdio.h>

int main(int argc, char** argv) {
  int status = 0;
  int i;
  for (i = 1; i < argc; ++i) {
    int nb_lignes = 0, nb_colonnes = 0, valeur_max = 0;
    const statut_image statut =
        lire_entete_image_pgm(argv[i], &nb_lignes, &nb_colonnes, &valeur_max);
    if (statut == IMAGE_OK) {
      printf("%s: %d x %d, maximum value %d\n", argv[i], nb_colonnes, nb_lignes, valeur_max);
    } else {
      printf("%s: %s %s\n", argv[i], decrire_statut_image(statut), argv[i]);
      status = 1;
    }
  }
  return status;
}

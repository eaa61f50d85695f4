/* The library used from C: the header compiles as C11 and every function links. Writes a greymap
 * and a colour file with the original functions, reads them back with both families, and checks
 * that a bad file is reported and the program goes on. Ends with status 0 when all held. */

#include <imagefiles/imagefiles.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int condition, const char* what) {
  if (!condition) {
    printf("failed: %s\n", what);
    ++failures;
  }
}

int main(int argc, char** argv) {
  char grey[4096], colour[4096], bad[4096];
  unsigned char plan[2];
  const unsigned char pixels[6] = {10, 20, 30, 40, 50, 60};
  unsigned char back[6] = {0};
  int nb_lignes = 0, nb_colonnes = 0, valeur_max = 0;
  FILE* file;
  if (argc != 2) return 2;
  snprintf(grey, sizeof grey, "%s/grey.pgm", argv[1]);
  snprintf(colour, sizeof colour, "%s/colour.ppm", argv[1]);
  snprintf(bad, sizeof bad, "%s/plain.pgm", argv[1]);

  ecrire_image_pgm(grey, pixels, 2, 3);
  lire_nb_lignes_colonnes_image_pgm(grey, &nb_lignes, &nb_colonnes);
  lire_image_pgm(grey, back, nb_lignes * nb_colonnes);
  check(nb_lignes == 2 && nb_colonnes == 3 && memcmp(back, pixels, 6) == 0, "greymap round trip");

  ecrire_image_ppm(colour, pixels, 1, 2);
  memset(back, 0, sizeof back);
  check(charger_image_ppm(colour, back, sizeof back, &nb_lignes, &nb_colonnes, &valeur_max) ==
            IMAGE_OK,
        "colour file loaded");
  check(nb_lignes == 1 && nb_colonnes == 2 && valeur_max == 255 && memcmp(back, pixels, 6) == 0,
        "colour round trip");
  lire_nb_lignes_colonnes_image_ppm(colour, &nb_lignes, &nb_colonnes);
  lire_image_ppm(colour, back, nb_lignes * nb_colonnes);
  planR(plan, back, 2);
  check(plan[0] == 10 && plan[1] == 40, "red plane");
  planB(plan, back, 2);
  check(plan[0] == 30 && plan[1] == 60, "blue plane");
  planV(plan, back, 2);
  check(plan[0] == 20 && plan[1] == 50, "green plane");
  check(enregistrer_image_pgm(grey, plan, 1, 2) == IMAGE_OK, "saved");
  check(lire_entete_image_pgm(grey, &nb_lignes, &nb_colonnes, NULL) == IMAGE_OK && nb_lignes == 1 &&
            nb_colonnes == 2,
        "header read");

  file = fopen(bad, "wb");
  fputs("P2\n1 1\n255\n7\n", file);
  fclose(file);
  check(charger_image_pgm(bad, back, sizeof back, NULL, NULL, NULL) == IMAGE_PAS_PGM,
        "plain greymap refused");
  check(strcmp(decrire_statut_image(IMAGE_PAS_D_ACCES_EN_LECTURE),
               "Pas d'acces en lecture sur l'image") == 0,
        "text of a status");
  file = fopen(grey, "rb");
  fgetc(file);
  fgetc(file);
  ignorer_commentaires(file);
  check(fgetc(file) == '\r', "comment skipper");
  fclose(file);

  /* Binarisation: pixels 10..60 split by Otsu between 30 and 40; each local method in place. */
  memcpy(back, pixels, 6);
  binariser(back, back, 6, calculer_seuil_otsu(pixels, 6));
  check(back[2] == 0 && back[3] == 255, "otsu");
  check(binariser_sauvola(back, pixels, 2, 3, 3, 0.2) == IMAGE_OK &&
            binariser_niblack(back, back, 2, 3, 3, 0.2) == IMAGE_OK &&
            binariser_wolf(back, back, 2, 3, 3, 0.5) == IMAGE_OK,
        "local thresholds");
  check(binariser_wolf(back, back, 2, 3, 4, 0.5) == IMAGE_PARAMETRE_INVALIDE, "even window");

  /* In bands: Otsu's two passes, a row at a time, packed; then a greymap file streamed. */
  {
    const parametres_binarisation otsu = {BINARISATION_OTSU, 0, 0, 0.0};
    statut_image status = IMAGE_PARAMETRE_INVALIDE;
    binariseur* b = creer_binariseur(&otsu, 2, 3, &status);
    unsigned char bits[2];
    int n = 0;
    int out = 0;
    check(b != NULL && status == IMAGE_OK && binariseur_passes(b) == 2, "binariseur");
    check(binariseur_statistiques(b, pixels, 1) == IMAGE_OK &&
              binariseur_statistiques(b, pixels + 3, 1) == IMAGE_OK,
          "first pass");
    check(binariseur_lignes_pbm(b, pixels, 1, bits, &n) == IMAGE_OK && n == 1 &&
              binariseur_lignes_pbm(b, pixels + 3, 1, bits + 1, &n) == IMAGE_OK && n == 1,
          "second pass");
    check(bits[0] == 0xe0 && bits[1] == 0x00, "rows packed");
    detruire_binariseur(b);
    ecrire_image_pgm(grey, pixels, 2, 3);
    memset(back, 7, sizeof back);
    file = fopen(grey, "rb");
    status = binariser_flux_vers_fichier(file, &otsu, 0, bad);
    fclose(file);
    check(
        status == IMAGE_OK &&
            charger_image_pgm(bad, back, sizeof back, &nb_lignes, &nb_colonnes, NULL) == IMAGE_OK &&
            back[2] == 0 && back[3] == 255,
        "file in bands");
    file = fopen(grey, "rb");
    {
      FILE* out_stream = tmpfile();
      check(out_stream != NULL &&
                binariser_flux_vers_flux(file, &otsu, 1, out_stream) == IMAGE_OK &&
                ftell(out_stream) == 7 + 2, /* "P4\r3 2\r", two rows of one byte */
            "stream in bands");
      if (out_stream != NULL) fclose(out_stream);
    }
    fclose(file);
    (void)out;
  }

  /* Every format in, bilevel out: the plain greymap read as grey, written as a PNG (or a
   * status saying this build has no PNG), counted and read back. */
  {
    unsigned char one = 0;
    int pages = 0;
    statut_image status;
    char png[4096];
    snprintf(png, sizeof png, "%s/page.png", argv[1]);
    file = fopen(bad, "wb");
    fputs("P2\n1 1\n255\n7\n", file);
    fclose(file);
    check(charger_image_grise(bad, 0, &one, 1, &nb_lignes, &nb_colonnes) == IMAGE_OK && one == 7 &&
              nb_lignes == 1 && nb_colonnes == 1,
          "plain greymap read as grey");
    status = enregistrer_image_binaire(png, pixels, 2, 3);
    check(status == IMAGE_OK || status == IMAGE_FORMAT_NON_PRIS_EN_CHARGE, "bilevel PNG");
    if (status == IMAGE_OK) {
      check(compter_pages(png, &pages) == IMAGE_OK && pages == 1, "pages counted");
      check(charger_image_grise(png, 0, back, sizeof back, &nb_lignes, &nb_colonnes) == IMAGE_OK &&
                back[0] == 0 && back[5] == 0,
            "bilevel PNG read back");
    }
    check(enregistrer_pages_binaires(png, 1, NULL, NULL) == IMAGE_PARAMETRE_INVALIDE,
          "pages need their function");
  }
  return failures == 0 ? 0 : 1;
}

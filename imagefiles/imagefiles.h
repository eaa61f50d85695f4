/* imagefiles: read and write binary greymap ("P5") and colour ("P6") image files.
 *
 * Two families of functions, callable from C and from C++:
 *
 * - The ten original functions (lire_..., ecrire_..., ignorer_commentaires, planR/V/B) never
 *   return an error: on failure they print one French message on standard output, naming the file
 *   (on standard error too when standard output cannot take it), and end the process with exit
 *   status 1. They read headers leniently and trust them. Use them in a program that has nothing
 *   to do after a bad file but stop.
 * - The status-returning functions (lire_entete_..., charger_..., enregistrer_...) never print
 *   and never end the process: each returns a statut_image. They read headers strictly and reject
 *   what they cannot read exactly. Use them in a program that must go on after a bad file.
 *
 * Image buffers belong to the caller. A raster is stored row after row from the top, each row left
 * to right, with nothing between rows: one byte per pixel for a greymap, three (red, green, blue)
 * for a colour image. Rows always come before columns in the arguments; the file header stores the
 * width (columns) first.
 *
 * Headers are written as "P5" or "P6", a carriage return, "<columns> <rows>", a carriage return,
 * "255" and a carriage return, with the raster right after.
 *
 * Writing never truncates a regular file in place: the image is written as a new file in the same
 * folder and renamed over the old one once every byte is written, so a failed, interrupted or
 * concurrent write leaves the old file whole (the last complete write wins). An existing file keeps
 * its permission bits, its extended attributes, and its owner and group where the process may set
 * them; a symbolic link stays a link and its target is replaced, unless it is another user's link
 * in a sticky folder that everyone may write (refused, as the kernel's protection would). A
 * hard-linked file is replaced by a new one, as editors do: its other names keep the old content.
 * No fsync is done: the write is safe against the process failing, not against the machine losing
 * power. Outputs that are not regular files (devices, pipes, terminals), and files in a folder that
 * refuses new files, are written directly.
 */

#ifndef IMAGEFILES_IMAGEFILES_H
#define IMAGEFILES_IMAGEFILES_H

#include <stddef.h>
#include <stdio.h>

#if defined(__GNUC__)
#define IMAGEFILES_API __attribute__((visibility("default")))
#else
#define IMAGEFILES_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The original functions: a failure ends the process --------------------------------------
 *
 * Headers are read leniently: whitespace after the magic, comment lines starting with '#' right
 * after it, then three decimal numbers (width, height, maximum value) and exactly one byte after
 * the maximum value. Nothing in a header is validated; a number that cannot be read leaves its
 * destination unchanged, and one beyond the 32-bit range saturates to the nearest limit. The
 * maximum value is ignored: samples are one byte.
 *
 * Byte counts are worked out in 64 bits. A count of 0 or less transfers nothing; a count whose
 * bytes would exceed 2,147,483,647 is a read or write failure, reported before the file is opened.
 */

/* Skips the comment lines that start at the current position of `flux`, an open stream positioned
 * just after a header's magic and its whitespace. A comment line starts with '#' and runs up to and
 * including the next line feed; only comment lines that follow one another directly are skipped.
 * Leaves the stream at the first byte that does not start a comment line, or at end of file. */
IMAGEFILES_API void ignorer_commentaires(FILE* flux);

/* Reads the header of the greymap file `nom_image` and stores its height in *nb_lignes and its
 * width in *nb_colonnes. A dimension the header does not hold keeps the value it had.
 * Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot be
 * opened. */
IMAGEFILES_API void lire_nb_lignes_colonnes_image_pgm(const char* nom_image, int* nb_lignes,
                                                      int* nb_colonnes);

/* Reads `nb_octets` raster bytes of the greymap file `nom_image` into `image`, which holds at least
 * that many. The header is skipped, not compared with the count; bytes beyond the count are left.
 * Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot be
 * opened and with "\nErreur de lecture de l'image <nom> \n" if it holds fewer bytes. */
IMAGEFILES_API void lire_image_pgm(const char* nom_image, unsigned char* image, int nb_octets);

/* Writes a greymap header and the nb_lignes x nb_colonnes bytes of `image` as the file
 * `nom_image`, replacing it whole if it exists (see above). Ends the process with
 * "\nPas d'acces en ecriture sur l'image <nom> \n" if the file cannot be created or is not
 * writable, and with "\nErreur d'ecriture de l'image <nom> \n" if any byte cannot be written; the
 * file is then as it was. */
IMAGEFILES_API void ecrire_image_pgm(const char* nom_image, const unsigned char* image,
                                     int nb_lignes, int nb_colonnes);

/* Reads the header of the colour file `nom_image` and stores its height in *nb_lignes and its
 * width in *nb_colonnes. A dimension the header does not hold keeps the value it had.
 * Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot be
 * opened. */
IMAGEFILES_API void lire_nb_lignes_colonnes_image_ppm(const char* nom_image, int* nb_lignes,
                                                      int* nb_colonnes);

/* Reads `nb_pixels` pixels (3 x nb_pixels bytes) of the colour file `nom_image` into `image`, which
 * holds at least that many bytes. Note the count is in pixels, where the greymap reader's is in
 * bytes. Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot
 * be opened and with "\nErreur de lecture de l'image <nom> \n" if it holds fewer bytes. */
IMAGEFILES_API void lire_image_ppm(const char* nom_image, unsigned char* image, int nb_pixels);

/* Writes a colour header and the 3 x nb_lignes x nb_colonnes bytes of `image` as the file
 * `nom_image`, replacing it whole if it exists. Ends the process with
 * "\nPas d'acces en ecriture sur l'image <nom> \n" if the file cannot be created or is not
 * writable, and with "\nErreur d'ecriture de l'image <nom> \n" if any byte cannot be written; the
 * file is then as it was. */
IMAGEFILES_API void ecrire_image_ppm(const char* nom_image, const unsigned char* image,
                                     int nb_lignes, int nb_colonnes);

/* Copy one colour of each of the `nb_pixels` pixels of the colour raster `image` (3 x nb_pixels
 * bytes) into `plan` (nb_pixels bytes), which then has the layout of a greymap raster: red for
 * planR, green (vert) for planV, blue (bleu) for planB. A count of 0 or less copies nothing. */
IMAGEFILES_API void planR(unsigned char* plan, const unsigned char* image, int nb_pixels);
IMAGEFILES_API void planV(unsigned char* plan, const unsigned char* image, int nb_pixels);
IMAGEFILES_API void planB(unsigned char* plan, const unsigned char* image, int nb_pixels);

/* ---- The status-returning functions: a failure is returned --------------------------------------
 *
 * Headers are read strictly: the exact magic ("P5" or "P6"); whitespace or comments ('#' to the end
 * of its line, a line feed or a carriage return) between the fields; unsigned decimal numbers;
 * width and height at least 1; maximum value 1 to 255; exactly one whitespace byte after the
 * maximum value; then a raster at least as long as the header announces (bytes after it are
 * allowed), with no sample above the maximum value. Samples are returned as stored, from 0 to the
 * maximum value, not scaled. Each file is opened once per call, so header and raster always come
 * from the same file. A NULL name is the access failure of the operation; a NULL image,
 * IMAGE_PARAMETRE_INVALIDE (a reader given a NULL buffer takes it as empty, and gives the
 * dimensions with IMAGE_TAMPON_TROP_PETIT). A process out of descriptors gets
 * IMAGE_DESCRIPTEURS_EPUISES, out of memory IMAGE_MEMOIRE_INSUFFISANTE: no function of this
 * header lets an exception out to its caller.
 */

/* What a status-returning function did. The first four failures are those of the original
 * functions and have their messages. Values are never renumbered; new ones are added at the end. */
typedef enum statut_image {
  IMAGE_OK = 0,
  IMAGE_PAS_D_ACCES_EN_LECTURE = 1,  /* the file cannot be opened for reading */
  IMAGE_ERREUR_DE_LECTURE = 2,       /* the file ends before its header or raster does */
  IMAGE_PAS_D_ACCES_EN_ECRITURE = 3, /* the file cannot be created, or is not writable */
  IMAGE_ERREUR_D_ECRITURE = 4,       /* not every byte could be written; the file is as it was */
  IMAGE_PAS_PGM = 5,                 /* not an 8-bit binary greymap file */
  IMAGE_PAS_PPM = 6,                 /* not an 8-bit binary colour file */
  IMAGE_16_BITS = 7,                 /* maximum value 256 to 65535: two-byte samples */
  IMAGE_TAILLE_HORS_LIMITES = 8,     /* a dimension beyond 2,147,483,647, or more than that many
                                        raster bytes (a bitmap's: one a pixel, as in memory; read
                                        or written in bands, in a row); or, to a writer, a
                                        dimension below 1 */
  IMAGE_TAMPON_TROP_PETIT = 9,       /* the caller's buffer is smaller than the raster */
  IMAGE_PARAMETRE_INVALIDE = 10,     /* a null pointer, or a window or k out of range */
  IMAGE_MEMOIRE_INSUFFISANTE = 11,   /* the memory the operation needs cannot be had */
  IMAGE_DESCRIPTEURS_EPUISES = 12,   /* the process has no file descriptor left to open the file */
  IMAGE_PAS_PBM = 13,                /* not a bitmap file ("P4", or plain "P1") */
  IMAGE_FORMAT_NON_PRIS_EN_CHARGE = 14,    /* a format this build was made without (its library was
                                              missing) */
  IMAGE_VARIANTE_NON_PRISE_EN_CHARGE = 15, /* a variant of a known format that is not read (CMYK,
                                              floating-point samples, separate planes...) */
  IMAGE_DONNEES_ENDOMMAGEES = 16,          /* a damaged compressed stream or inconsistent data */
  IMAGE_FORMAT_INCONNU = 17, /* no known format starts so; or, to a writer, an unknown extension */
  IMAGE_PAGE_ABSENTE = 18    /* the file has no page of that number */
} statut_image;

/* The French text of `statut`, to be followed by a space and the file name, as the original
 * functions print it: printf("\n%s %s \n", decrire_statut_image(s), nom) prints their message
 * byte for byte. For example "Pas d'acces en lecture sur l'image". Never NULL. */
IMAGEFILES_API const char* decrire_statut_image(statut_image statut);

/* Reads the header of the greymap file `nom_image` strictly: on IMAGE_OK stores its height, width
 * and maximum value in *nb_lignes, *nb_colonnes and *valeur_max (any of them may be NULL). The
 * raster is not read. On failure nothing is stored. */
IMAGEFILES_API statut_image lire_entete_image_pgm(const char* nom_image, int* nb_lignes,
                                                  int* nb_colonnes, int* valeur_max);

/* Reads the greymap file `nom_image` strictly into `image`, whose capacity is `capacite` bytes: the
 * raster is nb_lignes x nb_colonnes bytes. Stores the dimensions and the maximum value as
 * lire_entete_image_pgm does, on IMAGE_OK and on IMAGE_TAMPON_TROP_PETIT (so that the caller can
 * make room); nothing is ever written past `capacite` bytes of `image`. */
IMAGEFILES_API statut_image charger_image_pgm(const char* nom_image, unsigned char* image,
                                              size_t capacite, int* nb_lignes, int* nb_colonnes,
                                              int* valeur_max);

/* Writes the nb_lignes x nb_colonnes bytes of `image` as the greymap file `nom_image`, with the
 * header above, replacing it whole or leaving it as it was. Both dimensions must be at least 1 and
 * the raster at most 2,147,483,647 bytes (IMAGE_TAILLE_HORS_LIMITES otherwise, nothing touched). */
IMAGEFILES_API statut_image enregistrer_image_pgm(const char* nom_image, const unsigned char* image,
                                                  int nb_lignes, int nb_colonnes);

/* The same for colour files ("P6", three bytes a pixel: the raster is
 * 3 x nb_lignes x nb_colonnes bytes). */
IMAGEFILES_API statut_image lire_entete_image_ppm(const char* nom_image, int* nb_lignes,
                                                  int* nb_colonnes, int* valeur_max);
IMAGEFILES_API statut_image charger_image_ppm(const char* nom_image, unsigned char* image,
                                              size_t capacite, int* nb_lignes, int* nb_colonnes,
                                              int* valeur_max);
IMAGEFILES_API statut_image enregistrer_image_ppm(const char* nom_image, const unsigned char* image,
                                                  int nb_lignes, int nb_colonnes);

/* ---- Bitmaps ("P4": one bit a pixel) --------------------------------------------------------
 *
 * A bitmap file has the magic "P4", a carriage return, "<columns> <rows>" and a carriage return
 * (no maximum value), then the rows packed eight pixels a byte, the leftmost pixel in the most
 * significant bit, each row padded to a whole byte; a bit 1 is black. In memory it is one byte a
 * pixel, as a greymap: a sample below 128 is written black, and a bitmap is read as 0 (black) and
 * 255 (white). Written the same loss-free way as the other files.
 */

/* Writes the nb_lignes x nb_colonnes samples of `image` as the bitmap file `nom_image`. Statuses
 * as enregistrer_image_pgm. */
IMAGEFILES_API statut_image enregistrer_image_pbm(const char* nom_image, const unsigned char* image,
                                                  int nb_lignes, int nb_colonnes);

/* Reads the bitmap file `nom_image` ("P4", or plain "P1": '0' and '1', whitespace between) strictly
 * into `image`, one byte a pixel, 0 or 255, within `capacite` bytes (rows x columns are needed);
 * stores its dimensions on IMAGE_OK and IMAGE_TAMPON_TROP_PETIT. IMAGE_PAS_PBM for another kind of
 * file. */
IMAGEFILES_API statut_image charger_image_pbm(const char* nom_image, unsigned char* image,
                                              size_t capacite, int* nb_lignes, int* nb_colonnes);

/* ---- Every format in, bilevel out ----------------------------------------------------------
 *
 * The files scanners, phones and image tools write, read into an 8-bit greymap, and bilevel
 * images written as archives and OCR tools want them. A file's format is known by its first
 * bytes, never by its name:
 *
 * - Netpbm: plain P1, P2, P3; raw P4, P5, P6 of any maximum value (1 to 65535: two-byte samples,
 *   most significant first, above 255); PAM P7 of tuple type GRAYSCALE, RGB, GRAYSCALE_ALPHA,
 *   RGB_ALPHA, BLACKANDWHITE or BLACKANDWHITE_ALPHA (or none: the depth says which).
 * - PNG: every colour type (grey of 1, 2, 4, 8 and 16 bits, grey with alpha, palette with or
 *   without transparency, RGB, RGBA, 8 or 16 bits), interlaced or not.
 * - TIFF, every page: strips or tiles; uncompressed, LZW, Deflate, PackBits, JPEG, CCITT Group 3
 *   and Group 4; 1, 2, 4, 8 and 16-bit grey (min-is-white or min-is-black), palette, and 8 or
 *   16-bit RGB, with or without alpha, contiguous samples.
 * - JPEG: grey and colour (YCbCr), baseline or progressive. CMYK is refused.
 *
 * PNG, TIFF and JPEG are read through libpng, libtiff and libjpeg where the library was built with
 * them; without one, its files give IMAGE_FORMAT_NON_PRIS_EN_CHARGE.
 *
 * Every pixel becomes one grey byte by one rule: each sample is first brought to 0-255 as
 * round(v x 255 / maximum), halves up (a 16-bit sample: (v x 255 + 32767) / 65535 in integers, as
 * netpbm's pamdepth scales); a min-is-white sample is then inverted (255 - v); a pixel with an
 * opacity a is composited on white, each colour c becoming (c x a + 255 x (255 - a) + 127) / 255
 * (c + 255 - a for premultiplied samples); and a colour pixel takes the luma of ITU-R BT.601 as
 * Pillow's convert("L") computes it, L = (19595 R + 38470 G + 7471 B + 32768) / 65536 in integers
 * (the weights 0.299, 0.587, 0.114, rounded). A palette entry is a colour as any other; a JPEG is
 * decoded to RGB by libjpeg (its default, accurate transform) before the rule.
 *
 * A file's dimensions are checked against the library's size limit (2,147,483,647 pixels) before
 * any raster is allocated, so that a small file claiming a huge image costs nothing. Warnings of
 * the libraries are never printed.
 */

/* Reads the image `page` (0 for the first; a TIFF has several) of the file `nom`, whatever its
 * format, into `image` as an 8-bit greymap of nb_lignes x nb_colonnes bytes, within `taille`
 * bytes. The buffer protocol of charger_image_pgm: call with a NULL image (or a small `taille`)
 * to learn the dimensions (IMAGE_TAMPON_TROP_PETIT, with *nb_lignes and *nb_colonnes stored),
 * then with a buffer of rows x columns bytes. Dimensions are stored on IMAGE_OK and on
 * IMAGE_TAMPON_TROP_PETIT (either pointer may be NULL). The file must be one that can be read
 * twice: a pipe, a terminal or a socket is refused with IMAGE_PAS_D_ACCES_EN_LECTURE (read it from
 * a regular file); a directory is IMAGE_ERREUR_DE_LECTURE. Statuses: IMAGE_FORMAT_INCONNU when no
 * format starts as the file does, IMAGE_FORMAT_NON_PRIS_EN_CHARGE for a format this build lacks,
 * IMAGE_VARIANTE_NON_PRISE_EN_CHARGE for a variant not read (CMYK, floating-point samples,
 * separate planes), IMAGE_ERREUR_DE_LECTURE when the file ends early, IMAGE_DONNEES_ENDOMMAGEES
 * for damaged data (a bad checksum, a compressed stream that does not decode, a sample above its
 * maximum, a strip outside the file), IMAGE_PAGE_ABSENTE for a page the file does not have,
 * IMAGE_TAILLE_HORS_LIMITES beyond the size limit. On a failure other than the buffer's size, the
 * bytes of `image` are unspecified. */
IMAGEFILES_API statut_image charger_image_grise(const char* nom, int page, unsigned char* image,
                                                size_t taille, int* nb_lignes, int* nb_colonnes);

/* Stores in *nb_pages the number of images of the file `nom`: the pages of a TIFF (counted from
 * its directories, without reading a raster), 1 for the other formats. Statuses as
 * charger_image_grise's; IMAGE_PARAMETRE_INVALIDE for a NULL nb_pages. */
IMAGEFILES_API statut_image compter_pages(const char* nom, int* nb_pages);

/* Writes the nb_lignes x nb_colonnes samples of `image` as a bilevel file (a sample below 128 is
 * black, the others white), in the format that the extension of `nom` names, in any case: ".pbm"
 * a bitmap (as enregistrer_image_pbm), ".pgm" a greymap of 0 and 255, ".png" a 1-bit grey PNG,
 * ".tif" or ".tiff" a TIFF compressed with CCITT Group 4 (min-is-white, one strip). Written the
 * loss-free way of every writer (a new file beside, renamed over the old one, attributes kept).
 * IMAGE_FORMAT_INCONNU for another extension, IMAGE_FORMAT_NON_PRIS_EN_CHARGE for PNG or TIFF in a
 * build without the library; otherwise the statuses of enregistrer_image_pgm. */
IMAGEFILES_API statut_image enregistrer_image_binaire(const char* nom, const unsigned char* image,
                                                      int nb_lignes, int nb_colonnes);

/* Gives the page number `page` (from 0) of a multi-page writer: stores the raster (kept valid
 * until the next call) and its dimensions, or returns a failure, which ends the writing. */
typedef statut_image (*page_binaire_suivante)(void* contexte, int page, const unsigned char** image,
                                              int* nb_lignes, int* nb_colonnes);

/* Writes `nb_pages` bilevel pages as one multi-page Group 4 TIFF `nom` (".tif" or ".tiff", else
 * IMAGE_FORMAT_INCONNU), each page asked of `page_suivante` in turn with `contexte`, compressed
 * as it comes (only the compressed file is held); the file is written the loss-free way once every
 * page is compressed. A failure of `page_suivante` is returned and nothing is written.
 * IMAGE_PARAMETRE_INVALIDE for a NULL function or fewer than one page. */
IMAGEFILES_API statut_image enregistrer_pages_binaires(const char* nom, int nb_pages,
                                                       page_binaire_suivante page_suivante,
                                                       void* contexte);

/* ---- Greymaps over an open stream (pipes, sockets, standard input) ---------------------------
 *
 * The same strict reading as above, over a stream the caller opened: a header read leaves the
 * stream at the first raster byte, so that a stream that cannot be read twice (a pipe) is read
 * once, header then raster. Several images one after another in one stream are read by calling
 * again after each raster. The caller closes the stream.
 */

/* Reads a greymap header strictly from `flux`, positioned at its magic, and leaves the stream at
 * the first raster byte; stores height, width and maximum value (any pointer may be NULL).
 * IMAGE_PARAMETRE_INVALIDE for a NULL stream. The raster of a stream may be read in bands, so its
 * size is limited a row at a time: each dimension at most 2,147,483,647, the whole raster beyond
 * that many bytes allowed (a 60,000 x 60,000 page); a caller that holds it whole checks that it
 * can. */
IMAGEFILES_API statut_image lire_entete_flux_pgm(FILE* flux, int* nb_lignes, int* nb_colonnes,
                                                 int* valeur_max);

/* Reads the `nb_octets` raster bytes that follow a header from `flux` into `image`.
 * IMAGE_ERREUR_DE_LECTURE when the stream ends first; IMAGE_PAS_PGM when `valeur_max` (the
 * header's) is below 255 and a sample is above it. */
IMAGEFILES_API statut_image charger_raster_flux_pgm(FILE* flux, unsigned char* image,
                                                    size_t nb_octets, int valeur_max);

/* Writes a greymap, or a bitmap, with the library's header to `flux` and flushes it. Both
 * dimensions at least 1 (IMAGE_TAILLE_HORS_LIMITES otherwise); IMAGE_ERREUR_D_ECRITURE when the
 * stream takes not every byte (a closed pipe, a full disk); IMAGE_PARAMETRE_INVALIDE for a NULL
 * stream or image. */
IMAGEFILES_API statut_image enregistrer_flux_pgm(FILE* flux, const unsigned char* image,
                                                 int nb_lignes, int nb_colonnes);
IMAGEFILES_API statut_image enregistrer_flux_pbm(FILE* flux, const unsigned char* image,
                                                 int nb_lignes, int nb_colonnes);

/* ---- Binarisation of a greymap raster in memory ----------------------------------------------
 *
 * Each function writes 255 (white) or 0 (black) for every pixel of `image` into `sortie`, which is
 * either `image` itself (binarisation in place) or a buffer of the same size that does not overlap
 * it. Rasters are one byte a pixel, row after row, as the greymap functions read them.
 */

/* test_grey's rule: 255 where the sample is at or above `seuil`, 0 elsewhere. A threshold of 0 or
 * less gives an all-white raster, 256 or more an all-black one. Does nothing if a pointer is
 * NULL. */
IMAGEFILES_API void binariser(unsigned char* sortie, const unsigned char* image, size_t nb_pixels,
                              int seuil);

/* Otsu's threshold of the `nb_pixels` samples of `image`, for binariser: the level that maximises
 * the between-class variance of the 256-bin histogram, plus one, so that binariser keeps white
 * exactly the pixels above the level (OpenCV's THRESH_OTSU, whose output binariser then matches
 * byte for byte). Between 1 and 256. An image that no level splits (one value only, or none, or a
 * NULL image) gives 1: every sample above 0 white. A two-valued image gives its lower value plus
 * one (the lower value black, the higher white), unless one value makes up less than FLT_EPSILON
 * (2^-23, about 1.2e-7) of the pixels, fewer than one in 8,388,608: the level is then skipped, as
 * OpenCV skips it, and the result is 1. */
IMAGEFILES_API int calculer_seuil_otsu(const unsigned char* image, size_t nb_pixels);

/* Local thresholds. For each pixel, the mean m and the standard deviation s (population variance)
 * of the `fenetre` x `fenetre` window centred on it, the image mirrored at its borders without
 * repeating the edge pixel, give a threshold T; the pixel is white when its sample is above T.
 * Results are those of the floating-point formulas below computed in this order on m and s, which
 * are the window sums (exact integers) divided by fenetre^2, and the square root of the mean of
 * the squares less m^2, never below 0:
 *   Sauvola: T = m (1 + k (s / 127.5 - 1))
 *   Niblack: T = m - k s
 *   Wolf:    T = m - k (1 - s / Rmax) (m - M), where M is the smallest sample of the image and
 *            Rmax the largest s over it; an image where Rmax is 0 is uniform, and all white.
 * `fenetre` is odd, from 3 to 65535; `k` is any finite number. IMAGE_PARAMETRE_INVALIDE for another
 * window or k, or a NULL pointer; IMAGE_TAILLE_HORS_LIMITES for a dimension below 1 or a raster
 * beyond 2,147,483,647 bytes; IMAGE_MEMOIRE_INSUFFISANTE when the working memory cannot be had.
 * On a failure `sortie` is untouched. Working memory: when in place, a band of
 * min(nb_lignes, fenetre / 2 + 2) rows, which is a copy of the whole image once fenetre / 2 + 2
 * reaches nb_lignes; and four sums a column for nb_colonnes + fenetre - 1 columns, 32-bit up to a
 * window of 181 and 64-bit beyond. The time a pixel does not depend on the window. */
IMAGEFILES_API statut_image binariser_sauvola(unsigned char* sortie, const unsigned char* image,
                                              int nb_lignes, int nb_colonnes, int fenetre,
                                              double k);
IMAGEFILES_API statut_image binariser_niblack(unsigned char* sortie, const unsigned char* image,
                                              int nb_lignes, int nb_colonnes, int fenetre,
                                              double k);
IMAGEFILES_API statut_image binariser_wolf(unsigned char* sortie, const unsigned char* image,
                                           int nb_lignes, int nb_colonnes, int fenetre, double k);

/* The odd window that a local method should use on this page, from the size of its writing. The
 * page is divided by its paper's brightness over a coarse grid (16 x 16 blocks at most, so that a
 * shadow does not move the split), then split halfway between its ink's and its paper's levels
 * (those of Otsu's two classes). The stroke width is the median length of the horizontal runs of
 * ink that go on in the rows above and below (specks of noise seldom do), measured on the rows
 * smoothed over 3 x 3 pixels unless that leaves strokes under 3 pixels (noise and show-through
 * then no longer pass for strokes); the letter height is the mean height of the middle half of the
 * ink pixels, each counted at the height of its connected component (8-neighbours), specks, rules
 * and shapes cut by the sample or by the page's edge left out. The window is about one letter
 * height, never below three stroke widths, odd, from 3 to 255. Only a sample is read: an eighth of
 * the page, at least about 33,000 pixels and at most about 260,000 of rows spread over the page for
 * the runs, at least about 66,000 and at most about 520,000 for the components, in bands of whole
 * rows spread over the page (every second pixel or wider where the strokes allow; the middle of a
 * page wider than that), so that the time hardly grows beyond a few megapixels. A page with no
 * writing (uniform; noise alone, where fewer than 16 runs have a stroke's edges, the line climbing
 * from the run's darkest sample to the paper by five deviations of the noise within three samples
 * on each side; or with no letter-like component), a NULL image and a dimension below 1 give 15,
 * the local methods' default. */
IMAGEFILES_API int fenetre_conseillee(const unsigned char* image, int nb_lignes, int nb_colonnes);

/* The automatic method, with no parameter, for document pages (scans and photos) at any scale:
 * every size it uses follows the page's writing, as fenetre_conseillee measures it (a window W
 * of about one letter height, 15 on a page with no writing, at most 181). The page is first
 * divided by the brightness of its paper, the 90th percentile of blocks of W + 2 pixels a side
 * (at least 16) less 1.28 times the deviation of the page's noise (measured from the median
 * difference of neighbouring samples) and of the light's slope across the block, smoothed over the
 * blocks around and interpolated between their centres (which evens out shadows, a dark corner,
 * stains); on that normalised page a pixel is black when both a global threshold (halfway between
 * the ink's and the paper's levels, which Otsu's split of the histogram gives) and Wolf's local one
 * (window W, k 0.5, its largest deviation that of the blocks less the noise's, every pixel in one:
 * the rows and columns left over at the ends join the last blocks) make it black. Each sample below
 * the global threshold is first filtered against the noise (Wiener's filter over its 3 x 3
 * neighbours: their mean where they vary no more than the noise, the sample itself where they vary
 * far more, at a stroke's edge), the noise amplified, block by block, as the division by the paper
 * amplifies it: in a deep shadow the noise is not taken for ink. Above the global threshold, a
 * faint thin stroke (a ruled line, a crossbar) is black too: a sample darker than the paper by four
 * noise deviations, at the bottom of a valley that climbs 0.7 of the way back to the paper within a
 * third of a stroke width on both sides (blurred show-through does not), at least halfway from the
 * paper to the darkest sample that near, with at least three such samples among its 3 x 3
 * neighbours. The smallest sample and the block deviations are taken from one row in four of the
 * normalised page, the histogram from one in eight. `sortie` may be `image`; memory: the block grid
 * and W + 1 rows. The band functions below give the same result a band of rows at a time. Statuses
 * as the local methods'; a page whose normalised self is uniform is all white. */
IMAGEFILES_API statut_image binariser_auto(unsigned char* sortie, const unsigned char* image,
                                           int nb_lignes, int nb_colonnes);

/* ---- Binarisation in bands of rows -------------------------------------------------------------
 *
 * A page larger than memory is binarised a band of rows at a time, with results byte for byte
 * those of the whole-image functions above. A binariseur is created with the method, its
 * parameters and the page's dimensions; it is fed the rows from the top, and gives back each row
 * as soon as it is decided: at once for the fixed threshold and Otsu, fenetre / 2 rows later for
 * the local methods (auto: half its window, at most 90), the last rows with the last row fed.
 *
 * The fixed threshold, Sauvola and Niblack decide in one pass. Otsu (the histogram) and Wolf (the
 * largest deviation and the smallest sample) need the whole page first: binariseur_passes says 2
 * for them, and every row is then given once to binariseur_statistiques, from the top, before the
 * rows are fed again to binariseur_lignes (the caller reads its file twice). auto needs four first
 * passes (two for the page's scale, one for the paper's level, one for the statistics of the
 * normalised page): binariseur_passes says 5, and every row is given to binariseur_statistiques
 * four times over, from the top each time.
 *
 * Memory: the object holds the rows its method still needs, at most fenetre + 1 rows for the
 * local methods (none for the fixed threshold and Otsu), and a few sums a column; auto holds its
 * block grid, a sample of the page for its scale (under a megabyte) and its window + 1 rows.
 */

/* A method and its parameters: `seuil` for the fixed threshold (binariser's rule), `fenetre` and
 * `k` for Sauvola, Niblack and Wolf (as binariser_sauvola takes them); a field a method does not
 * take is not read. */
typedef enum methode_binarisation {
  BINARISATION_SEUIL = 0,
  BINARISATION_OTSU = 1,
  BINARISATION_SAUVOLA = 2,
  BINARISATION_NIBLACK = 3,
  BINARISATION_WOLF = 4,
  BINARISATION_AUTO = 5
} methode_binarisation;

typedef struct parametres_binarisation {
  methode_binarisation methode;
  int seuil;
  int fenetre;
  double k;
} parametres_binarisation;

typedef struct binariseur binariseur;

/* A binariseur for a page of nb_lignes x nb_colonnes samples with the method `parametres`, or NULL
 * with *statut (when `statut` is not NULL) set: IMAGE_PARAMETRE_INVALIDE for a NULL `parametres`,
 * an unknown method, or a window or k the whole-image function refuses;
 * IMAGE_TAILLE_HORS_LIMITES for a dimension below 1 (a page beyond 2,147,483,647 samples is
 * allowed: only rows are held); IMAGE_MEMOIRE_INSUFFISANTE. Freed with detruire_binariseur. */
IMAGEFILES_API binariseur* creer_binariseur(const parametres_binarisation* parametres,
                                            int nb_lignes, int nb_colonnes, statut_image* statut);

/* How many times the rows are read: 1, or 2 for Otsu and Wolf, 5 for auto, which need the whole
 * page first (binariseur_statistiques is then the first passes). 0 for a NULL binariseur. */
IMAGEFILES_API int binariseur_passes(const binariseur* b);

/* The first passes of a method that needs them: `nb_lignes` rows of nb_colonnes samples, the next
 * ones of the page from the top. The last row of the page ends a pass; the next starts again at
 * the top. IMAGE_PARAMETRE_INVALIDE for a
 * NULL pointer, a one-pass method, rows beyond the page, or a call after binariseur_lignes. */
IMAGEFILES_API statut_image binariseur_statistiques(binariseur* b, const unsigned char* lignes,
                                                    int nb_lignes);

/* Feeds the next `nb_lignes` rows of the page (nb_colonnes samples each) and writes into `sortie`
 * the rows this decides, in order, 255 (white) or 0 (black) a pixel, storing their number in
 * *nb_sortie: `sortie` has room for nb_lignes + fenetre / 2 rows (nb_lignes for the fixed
 * threshold and Otsu, nb_lignes + 90 for auto); it does not overlap `lignes`. Every row of the page
 * has come out once the last is fed. IMAGE_PARAMETRE_INVALIDE for a NULL pointer, a negative count,
 * rows beyond the page, or a method whose first passes are not complete; *nb_sortie is then 0 and
 * nothing is written. */
IMAGEFILES_API statut_image binariseur_lignes(binariseur* b, const unsigned char* lignes,
                                              int nb_lignes, unsigned char* sortie, int* nb_sortie);

/* The same with the decided rows packed as a bitmap file's rows: (nb_colonnes + 7) / 8 bytes a
 * row, the leftmost pixel in the most significant bit, 1 for black, the last byte padded with 0
 * bits. No byte-a-pixel row is made for the fixed threshold and Otsu. */
IMAGEFILES_API statut_image binariseur_lignes_pbm(binariseur* b, const unsigned char* lignes,
                                                  int nb_lignes, unsigned char* sortie,
                                                  int* nb_sortie);

/* Frees `b` (NULL: nothing). */
IMAGEFILES_API void detruire_binariseur(binariseur* b);

/* ---- Binarisation of a greymap file or stream in bands ------------------------------------------
 *
 * A greymap read strictly (as lire_entete_flux_pgm and charger_raster_flux_pgm) from `entree`,
 * positioned at its magic, binarised with `parametres` and written as a greymap (`pbm` zero) or a
 * bitmap (`pbm` not zero) with the library's header, without ever holding the page: memory is
 * that of a binariseur, and for a very wide page read from a regular file into a file, the local
 * methods and auto work in vertical strips of the page (with the window's overlap), so that it
 * stays within a few MiB whatever the width.
 *
 * A method with first passes (Otsu, Wolf, auto) reads a regular file once for each pass (auto:
 * five times); a file that changes, grows short or is replaced
 * between the passes is IMAGE_ERREUR_DE_LECTURE, and nothing is written. From a stream that
 * cannot be read again (a pipe), such a method first copies the raster into an unnamed
 * temporary file (in $TMPDIR, or /tmp), and a disk that cannot hold it is IMAGE_ERREUR_DE_LECTURE.
 * The caller closes the streams.
 */

/* Into the file `nom_sortie`, replaced whole or left as it was (see the top of this file): a
 * failure, a full disk or a file-size limit in the middle leaves the old file and nothing beside
 * it. Statuses: those of the readers, the writers and creer_binariseur. */
IMAGEFILES_API statut_image binariser_flux_vers_fichier(FILE* entree,
                                                        const parametres_binarisation* parametres,
                                                        int pbm, const char* nom_sortie);

/* Into the stream `sortie` (a pipe, standard output), flushed at the end; a failure in the middle
 * leaves the rows already written there. IMAGE_ERREUR_D_ECRITURE when it takes not every byte. */
IMAGEFILES_API statut_image binariser_flux_vers_flux(FILE* entree,
                                                     const parametres_binarisation* parametres,
                                                     int pbm, FILE* sortie);

/* Page `page` (0 for the first; a TIFF has several) of the image file `nom_entree`, of any format
 * charger_image_grise reads and made grey by its rule, binarised with `parametres` into the file
 * `nom_sortie`, replaced whole or left as it was as binariser_flux_vers_fichier's output. The
 * format written is named by the extension of `nom_sortie`: ".png" a 1-bit grey PNG, ".tif" or
 * ".tiff" a Group 4 TIFF (those of enregistrer_image_binaire, byte for byte), anything else a
 * bitmap (`pbm` not zero) or a greymap of 0 and 255. Read in bands: a greymap of maximum 255, a
 * PNG that is not interlaced (an interlaced one's passes are decoded whole), a TIFF a strip or a
 * row of tiles at a time (a strip of the whole page is held whole); a very wide page is done in
 * vertical strips only for the greymap. The other formats (JPEG, other Netpbm variants) are read
 * whole first. A method with first passes decodes the file again for each pass; a file that
 * changes, is cut or replaced between or during the passes is IMAGE_ERREUR_DE_LECTURE, and
 * nothing is written. The file must be one that can be read twice, as charger_image_grise's.
 * Statuses: those of charger_image_grise, of the writers and of creer_binariseur. */
IMAGEFILES_API statut_image binariser_fichier(const char* nom_entree, int page,
                                              const parametres_binarisation* parametres, int pbm,
                                              const char* nom_sortie);

/* ---- Measures of a binarisation against its ground truth ------------------------------------
 *
 * The measures of the document-binarisation contests, ink as the foreground: a sample 0 is ink,
 * any other value paper, in both images. TP, FP, FN, TN count the pixels that are ink in both,
 * ink in the result only, in the truth only, in neither.
 */
typedef struct mesures_binarisation {
  double f_mesure;        /* 2 P R / (P + R) in percent, P = TP / (TP + FP), R = TP / (TP + FN);
                             100 when neither image holds ink, 0 when TP is 0 */
  double pseudo_f_mesure; /* the same with R the share of the truth's skeleton (its ink thinned
                             to one-pixel lines) that the result makes ink */
  double psnr;            /* 10 log10(1 / MSE), MSE the share of pixels that differ, in dB;
                             infinite when none differs */
  double drd;             /* distance-reciprocal distortion: each pixel that differs weighs the
                             share of the truth's 5 x 5 neighbourhood (inverse distances, the truth
                             mirrored at its borders) that differs from it; their sum over the
                             number of whole 8 x 8 blocks of the truth that hold ink and paper (1
                             when none does) */
  double nrm;             /* negative rate: (FN / (FN + TP) + FP / (FP + TN)) / 2, a ratio of 0 over
                             0 counted 0 */
  double mcc;             /* Matthews' correlation coefficient, -1 to 1; where a factor of its
                             denominator is 0, 1 when the images agree and 0 otherwise */
} mesures_binarisation;

/* Measures the binarisation `resultat` against the ground truth `verite`, both nb_lignes x
 * nb_colonnes samples, into *mesures. IMAGE_PARAMETRE_INVALIDE for a NULL pointer,
 * IMAGE_TAILLE_HORS_LIMITES for a dimension below 1 or a raster beyond 2,147,483,647 bytes,
 * IMAGE_MEMOIRE_INSUFFISANTE when the copy of the truth that the skeleton needs cannot be had; on
 * a failure *mesures is untouched. */
IMAGEFILES_API statut_image evaluer_binarisation(const unsigned char* verite,
                                                 const unsigned char* resultat, int nb_lignes,
                                                 int nb_colonnes, mesures_binarisation* mesures);

#ifdef __cplusplus
}
#endif

#endif /* IMAGEFILES_IMAGEFILES_H */

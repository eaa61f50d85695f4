// imagefiles: read and write binary greymap ("P5") and colour ("P6") image files.
//
// Every function does one whole job (open, work, close) and never returns an error: on failure it
// prints one French message on standard output, naming the file, and ends the process with exit
// status 1. Code after a call therefore runs only when the call succeeded.
//
// Image buffers belong to the caller, who allocates them large enough and tells the size. A raster
// is stored row after row from the top, each row left to right, with nothing between rows: one
// byte per pixel for a greymap, three (red, green, blue) for a colour image. Rows always come
// before columns in the arguments; the file header stores the width (columns) first.
//
// Headers are written as "P5" or "P6", a carriage return, "<columns> <rows>", a carriage return,
// "255" and a carriage return, with the raster right after. They are read leniently: whitespace
// after the magic, comment lines starting with '#' right after it, then three decimal numbers
// (width, height, maximum value) and exactly one byte after the maximum value. Nothing in a header
// is validated; a number that cannot be read leaves its destination unchanged, and one beyond the
// 32-bit range saturates to the nearest limit. The maximum value is ignored: samples are one byte.
//
// Byte counts are worked out in 64 bits. A count of 0 or less transfers nothing; a count whose
// bytes would exceed 2,147,483,647 is a read or write failure, reported before the file is opened.

#ifndef IMAGEFILES_IMAGEFILES_H
#define IMAGEFILES_IMAGEFILES_H

#include <cstdio>

#if defined(__GNUC__)
#define IMAGEFILES_API __attribute__((visibility("default")))
#else
#define IMAGEFILES_API
#endif

// Skips the comment lines that start at the current position of `flux`, an open stream positioned
// just after a header's magic and its whitespace. A comment line starts with '#' and runs up to and
// including the next line feed; only comment lines that follow one another directly are skipped.
// Leaves the stream at the first byte that does not start a comment line, or at end of file.
IMAGEFILES_API void ignorer_commentaires(std::FILE* flux);

// Reads the header of the greymap file `nom_image` and stores its height in *nb_lignes and its
// width in *nb_colonnes. A dimension the header does not hold keeps the value it had.
// Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot be
// opened.
IMAGEFILES_API void lire_nb_lignes_colonnes_image_pgm(const char* nom_image, int* nb_lignes,
                                                      int* nb_colonnes);

// Reads `nb_octets` raster bytes of the greymap file `nom_image` into `image`, which holds at least
// that many. The header is skipped, not compared with the count; bytes beyond the count are left.
// Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot be
// opened and with "\nErreur de lecture de l'image <nom> \n" if it holds fewer bytes.
IMAGEFILES_API void lire_image_pgm(const char* nom_image, unsigned char* image, int nb_octets);

// Creates or empties the file `nom_image` and writes a greymap header and the
// nb_lignes x nb_colonnes bytes of `image`. Ends the process with
// "\nPas d'acces en ecriture sur l'image <nom> \n" if the file cannot be opened for writing and
// with "\nErreur d'ecriture de l'image <nom> \n" if any byte cannot be written, closing included.
IMAGEFILES_API void ecrire_image_pgm(const char* nom_image, const unsigned char* image,
                                     int nb_lignes, int nb_colonnes);

// Reads the header of the colour file `nom_image` and stores its height in *nb_lignes and its
// width in *nb_colonnes. A dimension the header does not hold keeps the value it had.
// Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot be
// opened.
IMAGEFILES_API void lire_nb_lignes_colonnes_image_ppm(const char* nom_image, int* nb_lignes,
                                                      int* nb_colonnes);

// Reads `nb_pixels` pixels (3 x nb_pixels bytes) of the colour file `nom_image` into `image`, which
// holds at least that many bytes. Note the count is in pixels, where the greymap reader's is in
// bytes. Ends the process with "\nPas d'acces en lecture sur l'image <nom> \n" if the file cannot
// be opened and with "\nErreur de lecture de l'image <nom> \n" if it holds fewer bytes.
IMAGEFILES_API void lire_image_ppm(const char* nom_image, unsigned char* image, int nb_pixels);

// Creates or empties the file `nom_image` and writes a colour header and the
// 3 x nb_lignes x nb_colonnes bytes of `image`. Ends the process with
// "\nPas d'acces en ecriture sur l'image <nom> \n" if the file cannot be opened for writing and
// with "\nErreur d'ecriture de l'image <nom> \n" if any byte cannot be written, closing included.
IMAGEFILES_API void ecrire_image_ppm(const char* nom_image, const unsigned char* image,
                                     int nb_lignes, int nb_colonnes);

// Copy one colour of each of the `nb_pixels` pixels of the colour raster `image` (3 x nb_pixels
// bytes) into `plan` (nb_pixels bytes), which then has the layout of a greymap raster: red for
// planR, green (vert) for planV, blue (bleu) for planB. A count of 0 or less copies nothing.
IMAGEFILES_API void planR(unsigned char* plan, const unsigned char* image, int nb_pixels);
IMAGEFILES_API void planV(unsigned char* plan, const unsigned char* image, int nb_pixels);
IMAGEFILES_API void planB(unsigned char* plan, const unsigned char* image, int nb_pixels);

#endif  // IMAGEFILES_IMAGEFILES_H

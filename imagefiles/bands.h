// Binarisation a band of rows at a time: the objects behind the public binariseur and the stream
// functions. Each decides the rows of a whole row's width or of a vertical strip (the local
// methods, fed the window's overlap), with the whole-image functions' per-row code.

#ifndef IMAGEFILES_BANDS_H
#define IMAGEFILES_BANDS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "imagefiles/binarisation_internal.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/running_window.h"

namespace imagefiles::detail {

class AutoStatistics;

// What a two-pass method learns in its first pass over a strip; the strips' parts merge into the
// page's.
struct FirstPass {
  std::uint64_t histogram[256] = {};   // Otsu
  int smallest = 255;                  // Wolf: the smallest sample
  WidestWindow<std::uint32_t> narrow;  // Wolf: the widest window, for each width of sums
  WidestWindow<std::uint64_t> wide;
  std::shared_ptr<AutoStatistics> automatic;  // auto: its statistics of the whole page

  void merge(const FirstPass& other);
};

class Band {
 public:
  // IMAGE_OK when `method` can binarise a rows x columns page, else the status to return.
  static statut_image check(const parametres_binarisation* method, int rows, int columns);
  // The band for the columns `strip` decides of a page `rows` high (checked first). Throws
  // std::bad_alloc.
  static std::unique_ptr<Band> make(const parametres_binarisation& method, int rows,
                                    const Strip& strip);
  // Columns of overlap a strip is fed on each side (the window's half).
  static int margin(const parametres_binarisation& method);
  // Bytes a band keeps for each column it is fed, besides the rows in flight.
  static std::size_t bytes_per_column(const parametres_binarisation& method, int rows);

  virtual ~Band() = default;
  int passes() const { return passes_; }
  // Rows a fed row waits before it is decided (the last rows come out with the last row fed).
  virtual int delay() const { return 0; }
  const Strip& strip() const { return strip_; }

  // The first pass: the next row (its fed columns). The last row of the page ends it.
  virtual void gather(const unsigned char* row) = 0;
  // What the first pass learnt so far.
  virtual const FirstPass& first_pass() { return first_pass_; }
  // The whole page's first pass (every strip's merged), before the rows are fed.
  virtual void use(const FirstPass& page) = 0;

  // Feeds the next row (its fed columns), which stays valid until next() returns false.
  virtual void feed(const unsigned char* row) = 0;
  // Writes the next decided row, if there is one: 255 or 0 a pixel, or packed eight a byte as a
  // bitmap's row (`bits`).
  virtual bool next(unsigned char* out, bool bits) = 0;

 protected:
  Band(int passes, const Strip& strip) : passes_(passes), strip_(strip) {}
  int passes_;
  Strip strip_;
  FirstPass first_pass_;
};

// How the stream functions go about it: the memory beyond which a page is done in vertical
// strips, and a function called before each block of rows is read (pass 1 or 2, its first row),
// which the tests use to change the file or stop the process in the middle.
struct StreamOptions {
  std::size_t strip_budget = std::size_t{4} << 20;
  std::size_t piece = std::size_t{1} << 20;  // auto's first passes read rows in pieces this wide
  std::function<void(int pass, int row)> at_row;
};

// binariser_flux_vers_fichier and binariser_flux_vers_flux.
statut_image binarise_to_file(std::FILE* in, const parametres_binarisation* method, bool bits,
                              const char* name, const StreamOptions& options);
// binariser_fichier.
statut_image binarise_file_to_file(const char* input, int page,
                                   const parametres_binarisation* method, bool bits,
                                   const char* output, const StreamOptions& options);
statut_image binarise_to_stream(std::FILE* in, const parametres_binarisation* method, bool bits,
                                std::FILE* out, const StreamOptions& options);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_BANDS_H

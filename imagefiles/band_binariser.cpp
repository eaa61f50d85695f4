// Binarisation in bands of rows: the fixed threshold and Otsu decide each row as it comes; the
// local methods keep the rows their window still needs in a ring and decide a row once the rows
// below it have come, with the same running window and row decision as the whole-image functions,
// so that the results are theirs byte for byte. The public binariseur is one band over the whole
// width.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "imagefiles/auto_threshold.h"
#include "imagefiles/bands.h"
#include "imagefiles/binarisation_internal.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"
#include "imagefiles/running_window.h"

namespace imagefiles::detail {

void FirstPass::merge(const FirstPass& other) {
  for (int v = 0; v < 256; ++v) histogram[v] += other.histogram[v];
  smallest = std::min(smallest, other.smallest);
  narrow.merge(other.narrow);
  wide.merge(other.wide);
  if (other.automatic) automatic = other.automatic;
}

namespace {

bool local(methode_binarisation method) {
  return method == BINARISATION_SAUVOLA || method == BINARISATION_NIBLACK ||
         method == BINARISATION_WOLF;
}

// The fixed threshold and Otsu: each row decided as it is fed, into bytes or straight into bits.
class GlobalBand : public Band {
 public:
  GlobalBand(const parametres_binarisation& method, const Strip& strip)
      : Band(method.methode == BINARISATION_OTSU ? 2 : 1, strip), level_(method.seuil) {}

  void gather(const unsigned char* row) override {
    tally_.add(row + offset(), width());
    // Each of the tally's four 32-bit tables counts a quarter of at most 2^31 samples; the
    // page's counts are moved to 64 bits a few rows at a time all the same.
    if ((gathered_ += width()) >= (std::size_t{1} << 30)) flush();
  }
  const FirstPass& first_pass() override {
    flush();
    return first_pass_;
  }
  void use(const FirstPass& page) override {
    if (passes_ == 1) return;
    std::uint64_t count = 0;
    for (const std::uint64_t n : page.histogram) count += n;
    level_ = count == 0 ? 1 : otsu_level(page.histogram, count) + 1;
  }
  void feed(const unsigned char* row) override { row_ = row; }
  bool next(unsigned char* out, bool bits) override {
    if (row_ == nullptr) return false;
    if (bits) {
      pack_threshold_row(row_ + offset(), width(), level_, out);
    } else {
      binariser(out, row_ + offset(), width(), level_);
    }
    row_ = nullptr;
    return true;
  }

 private:
  std::size_t offset() const { return static_cast<std::size_t>(strip_.first - strip_.fed_first); }
  std::size_t width() const { return static_cast<std::size_t>(strip_.width); }
  void flush() {
    tally_.add_to(first_pass_.histogram);
    tally_ = Tally{};
    gathered_ = 0;
  }

  int level_;
  Tally tally_;
  std::size_t gathered_ = 0;
  const unsigned char* row_ = nullptr;
};

// Sauvola, Niblack and Wolf: a ring of window + 1 rows (every row of a page no higher), the
// running window and the row decision of the whole-image functions.
template <typename Sum>
class LocalBand : public Band {
 public:
  LocalBand(const parametres_binarisation& method, int rows, const Strip& strip)
      : Band(method.methode == BINARISATION_WOLF ? 2 : 1, strip),
        kind_(method.methode == BINARISATION_SAUVOLA   ? Formula::sauvola
              : method.methode == BINARISATION_NIBLACK ? Formula::niblack
                                                       : Formula::wolf),
        k_(method.k),
        rows_(rows),
        window_(method.fenetre),
        half_(method.fenetre / 2),
        slots_(std::min(rows, method.fenetre + 1)),
        fed_(static_cast<std::size_t>(strip.fed_width)),
        ring_(static_cast<std::size_t>(slots_) * fed_),
        decided_row_(static_cast<std::size_t>(strip.width)),
        running_(rows, method.fenetre, strip) {
    if (passes_ == 1) decider_.emplace(make_formula(kind_, k_, 127.5, 0), window_);
  }

  int delay() const override { return half_; }

  void gather(const unsigned char* row) override {
    store(row);
    const std::size_t width = static_cast<std::size_t>(strip_.width);
    first_pass_.smallest = std::min<int>(
        first_pass_.smallest,
        smallest_sample(row + static_cast<std::size_t>(strip_.first - strip_.fed_first), width));
    while (ready()) {
      const RowSums<Sum> sums = running_.next(decided_, original());
      if constexpr (std::is_same_v<Sum, std::uint32_t>) {
        first_pass_.narrow.row(decided_, strip_.first, sums, width);
      } else {
        first_pass_.wide.row(decided_, strip_.first, sums, width);
      }
      ++decided_;
    }
    if (decided_ == rows_) received_ = decided_ = 0;  // the second pass starts from the top
  }

  void use(const FirstPass& page) override {
    if (passes_ == 1) return;
    const double range =
        std::is_same_v<Sum, std::uint32_t> ? page.narrow.deviation() : page.wide.deviation();
    // Every window holds one value: the page is uniform, a page with nothing on it.
    white_ = range == 0;
    decider_.emplace(make_formula(kind_, k_, range, page.smallest), window_);
  }

  void feed(const unsigned char* row) override { store(row); }

  bool next(unsigned char* out, bool bits) override {
    if (!ready()) return false;
    const RowSums<Sum> sums = running_.next(decided_, original());
    const std::size_t width = static_cast<std::size_t>(strip_.width);
    const unsigned char* line = original()(decided_) + (strip_.first - strip_.fed_first);
    unsigned char* decided = bits ? decided_row_.data() : out;
    if (white_) {
      std::memset(decided, 255, width);
    } else {
      decider_->decide(line, sums, width, decided);
    }
    if (bits) pack_row(decided, width, out);
    ++decided_;
    return true;
  }

 private:
  auto original() const {
    return [this](std::int64_t row) -> const unsigned char* {
      return ring_.data() + static_cast<std::size_t>(row % slots_) * fed_;
    };
  }
  void store(const unsigned char* row) {
    std::memcpy(ring_.data() + static_cast<std::size_t>(received_ % slots_) * fed_, row, fed_);
    ++received_;
  }
  // The next row's window has come whole.
  bool ready() const {
    return decided_ < rows_ && received_ >= std::min<std::int64_t>(rows_, decided_ + half_ + 1);
  }

  Formula::Kind kind_;
  double k_;
  int rows_;
  int window_;
  int half_;
  int slots_;
  std::size_t fed_;
  std::vector<unsigned char> ring_;
  std::vector<unsigned char> decided_row_;  // a row's bytes before they are packed
  RunningWindow<Sum> running_;
  std::optional<LocalDecider<Sum>> decider_;
  bool white_ = false;
  int received_ = 0;
  int decided_ = 0;
};

// The automatic method: its statistics gathered over whole rows in its first passes, then each
// row of the strip decided with the whole-image function's row code once its window has come.
class AutoBand : public Band {
 public:
  AutoBand(int rows, const Strip& strip)
      : Band(AutoStatistics::passes + 1, strip),
        rows_(rows),
        decided_row_(static_cast<std::size_t>(strip.width)) {}

  int delay() const override { return decide_ ? decide_->delay() : 0; }
  void gather(const unsigned char* row) override {
    if (!statistics_) statistics_ = std::make_shared<AutoStatistics>(rows_, strip_.columns);
    statistics_->gather(pass_, gathered_, 0, row, static_cast<std::size_t>(strip_.columns));
    if (++gathered_ == rows_) {
      statistics_->end(pass_++);
      gathered_ = 0;
    }
  }
  const FirstPass& first_pass() override {
    first_pass_.automatic = statistics_;
    return first_pass_;
  }
  void use(const FirstPass& page) override {
    statistics_ = page.automatic;
    if (statistics_) decide_.emplace(*statistics_, rows_, strip_);
  }
  void feed(const unsigned char* row) override { decide_->feed(row); }
  bool next(unsigned char* out, bool bits) override {
    unsigned char* decided = bits ? decided_row_.data() : out;
    if (!decide_->next(decided)) return false;
    if (bits) pack_row(decided, decided_row_.size(), out);
    return true;
  }

 private:
  int rows_;
  std::vector<unsigned char> decided_row_;  // a row's bytes before they are packed
  std::shared_ptr<AutoStatistics> statistics_;
  std::optional<AutoRows> decide_;
  int pass_ = 0;
  int gathered_ = 0;
};

}  // namespace

statut_image Band::check(const parametres_binarisation* method, int rows, int columns) {
  if (method == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  // A C caller may store any int in the enum; C++ may not load one outside the enumerators' range,
  // so the stored bytes are read as the int they are.
  static_assert(sizeof(methode_binarisation) == sizeof(int), "the enum is stored as an int");
  int m = 0;
  std::memcpy(&m, &method->methode, sizeof m);
  if (m < BINARISATION_SEUIL || m > BINARISATION_AUTO) return IMAGE_PARAMETRE_INVALIDE;
  // The whole-image functions' own checks of the parameters, with a stand-in for the buffers and
  // the page; its size is that of a page in bands.
  const unsigned char any = 0;
  const statut_image valid =
      local(method->methode) ? check_local(&any, &any, 1, 1, method->fenetre, method->k) : IMAGE_OK;
  if (valid != IMAGE_OK) return valid;
  return checked_sizes(rows, columns, greymap, Held::in_bands) ? IMAGE_OK
                                                               : IMAGE_TAILLE_HORS_LIMITES;
}

int Band::margin(const parametres_binarisation& method) {
  if (method.methode == BINARISATION_AUTO) return 90;  // its widest window's half, 181 / 2
  return local(method.methode) ? method.fenetre / 2 : 0;
}

std::size_t Band::bytes_per_column(const parametres_binarisation& method, int rows) {
  // auto: a ring of at most 182 rows, its sums, and a row of the paper's levels.
  if (method.methode == BINARISATION_AUTO)
    return static_cast<std::size_t>(std::min(rows, 182)) + 4 * 4 + 2;
  if (!local(method.methode)) return 2;
  const std::size_t sum = narrow_sums(method.fenetre) ? 4 : 8;
  return static_cast<std::size_t>(std::min(rows, method.fenetre + 1)) + 4 * sum + 2;
}

std::unique_ptr<Band> Band::make(const parametres_binarisation& method, int rows,
                                 const Strip& strip) {
  if (method.methode == BINARISATION_AUTO) return std::make_unique<AutoBand>(rows, strip);
  if (!local(method.methode)) return std::make_unique<GlobalBand>(method, strip);
  if (narrow_sums(method.fenetre)) {
    return std::make_unique<LocalBand<std::uint32_t>>(method, rows, strip);
  }
  return std::make_unique<LocalBand<std::uint64_t>>(method, rows, strip);
}

}  // namespace imagefiles::detail

using imagefiles::detail::Band;

struct binariseur {
  std::unique_ptr<Band> band;
  int rows;
  int columns;
  int delay;
  std::int64_t gathered = 0;  // rows of the first passes
  int fed = 0;
};

binariseur* creer_binariseur(const parametres_binarisation* parametres, int nb_lignes,
                             int nb_colonnes, statut_image* statut) {
  statut_image status = Band::check(parametres, nb_lignes, nb_colonnes);
  binariseur* made = nullptr;
  if (status == IMAGE_OK) {
    try {
      std::unique_ptr<Band> band =
          Band::make(*parametres, nb_lignes, imagefiles::detail::whole_row(nb_colonnes));
      const int delay = band->delay();
      made = new binariseur{std::move(band), nb_lignes, nb_colonnes, delay};
    } catch (const std::bad_alloc&) {
      status = IMAGE_MEMOIRE_INSUFFISANTE;
    }
  }
  if (statut != nullptr) *statut = status;
  return made;
}

int binariseur_passes(const binariseur* b) {
  return b == nullptr ? 0 : b->band->passes();
}

statut_image binariseur_statistiques(binariseur* b, const unsigned char* lignes, int nb_lignes) {
  const std::int64_t first_passes =
      std::int64_t{b == nullptr ? 0 : b->band->passes() - 1} * (b == nullptr ? 0 : b->rows);
  if (b == nullptr || lignes == nullptr || nb_lignes < 0 || b->band->passes() < 2 || b->fed > 0 ||
      nb_lignes > first_passes - b->gathered) {
    return IMAGE_PARAMETRE_INVALIDE;
  }
  try {
    const std::size_t width = static_cast<std::size_t>(b->columns);
    for (int r = 0; r < nb_lignes; ++r)
      b->band->gather(lignes + static_cast<std::size_t>(r) * width);
    b->gathered += nb_lignes;
    if (b->gathered == first_passes && nb_lignes > 0) b->band->use(b->band->first_pass());
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}

namespace {

statut_image feed(binariseur* b, const unsigned char* lignes, int nb_lignes, unsigned char* sortie,
                  int* nb_sortie, bool bits) {
  if (nb_sortie != nullptr) *nb_sortie = 0;
  if (b == nullptr || lignes == nullptr || sortie == nullptr || nb_sortie == nullptr ||
      nb_lignes < 0 || nb_lignes > b->rows - b->fed ||
      b->gathered < std::int64_t{b->band->passes() - 1} * b->rows) {
    return IMAGE_PARAMETRE_INVALIDE;
  }
  if (b->band->passes() == 1 && b->fed == 0) b->band->use(b->band->first_pass());
  const std::size_t width = static_cast<std::size_t>(b->columns);
  const std::size_t out_width = bits ? (width + 7) / 8 : width;
  int out = 0;
  for (int r = 0; r < nb_lignes; ++r) {
    b->band->feed(lignes + static_cast<std::size_t>(r) * width);
    while (b->band->next(sortie + static_cast<std::size_t>(out) * out_width, bits)) ++out;
  }
  b->fed += nb_lignes;
  *nb_sortie = out;
  return IMAGE_OK;
}

}  // namespace

statut_image binariseur_lignes(binariseur* b, const unsigned char* lignes, int nb_lignes,
                               unsigned char* sortie, int* nb_sortie) {
  return feed(b, lignes, nb_lignes, sortie, nb_sortie, false);
}

statut_image binariseur_lignes_pbm(binariseur* b, const unsigned char* lignes, int nb_lignes,
                                   unsigned char* sortie, int* nb_sortie) {
  return feed(b, lignes, nb_lignes, sortie, nb_sortie, true);
}

void detruire_binariseur(binariseur* b) {
  delete b;
}

// Times one binarisation of the library on a greymap in memory, one thread, and writes its output:
//
//   threshold_bench IMAGE.pgm METHOD WINDOW K RUNS OUTPUT.pgm
//
// METHOD is fixed (threshold 128), otsu (the threshold and the binarisation), sauvola, niblack,
// wolf, auto or fenetre (fenetre_conseillee alone; WINDOW and K ignored). The image is read and the
// output buffer faulted in before the clock starts; prints the median of RUNS runs in milliseconds.
// bench/thresholds.py runs it against the peers.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: threshold_bench IMAGE.pgm METHOD WINDOW K RUNS OUTPUT.pgm\n");
    return 2;
  }
  const std::string method = argv[2];
  const int window = std::atoi(argv[3]);
  const double k = std::atof(argv[4]);
  const int runs = std::max(1, std::atoi(argv[5]));
  int rows = 0;
  int columns = 0;
  std::vector<unsigned char> image;
  statut_image status = charger_image_pgm(argv[1], nullptr, 0, &rows, &columns, nullptr);
  if (status == IMAGE_TAMPON_TROP_PETIT) {
    image.resize(std::size_t(rows) * columns);
    status = charger_image_pgm(argv[1], image.data(), image.size(), &rows, &columns, nullptr);
  }
  if (status != IMAGE_OK) {
    std::fprintf(stderr, "%s %s\n", decrire_statut_image(status), argv[1]);
    return 1;
  }
  std::vector<unsigned char> out(image.size(), 1);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (method == "fixed") {
      binariser(out.data(), image.data(), image.size(), 128);
    } else if (method == "otsu") {
      binariser(out.data(), image.data(), image.size(),
                calculer_seuil_otsu(image.data(), image.size()));
    } else if (method == "sauvola") {
      status = binariser_sauvola(out.data(), image.data(), rows, columns, window, k);
    } else if (method == "niblack") {
      status = binariser_niblack(out.data(), image.data(), rows, columns, window, k);
    } else if (method == "wolf") {
      status = binariser_wolf(out.data(), image.data(), rows, columns, window, k);
    } else if (method == "auto") {
      status = binariser_auto(out.data(), image.data(), rows, columns);
    } else if (method == "fenetre") {
      // The window measured, written into the output so that the call is not left out.
      out[0] = static_cast<unsigned char>(fenetre_conseillee(image.data(), rows, columns));
    } else {
      std::fprintf(stderr, "unknown method %s\n", method.c_str());
      return 2;
    }
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (status != IMAGE_OK) {
      std::fprintf(stderr, "%s\n", decrire_statut_image(status));
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("%.3f\n", times[times.size() / 2]);
  return enregistrer_image_pgm(argv[6], out.data(), rows, columns) == IMAGE_OK ? 0 : 1;
}

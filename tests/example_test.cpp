// The examples run as processes: each plane file byte for byte, each line of the listing.

#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace {

using namespace testing_support;

TEST(SeparerPlans, WritesOneGreymapPerColour) {
  TempDir dir;
  // 2 x 3 pixels whose red, green and blue bytes count up from 1, 101 and 201.
  std::string raster;
  for (char i = 0; i < 6; ++i) raster += {char(1 + i), char(101 + i), char(-55 + i)};
  write_file(dir / "in.ppm", "P6\n# drawn by the test\n3 2\n255\n" + raster);

  const Outcome outcome = run_command(
      {SEPARER_PLANS_PATH, dir / "in.ppm", dir / "r.pgm", dir / "v.pgm", dir / "b.pgm"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(read_file(dir / "r.pgm"), "P5\r3 2\r255\r\x01\x02\x03\x04\x05\x06");
  EXPECT_EQ(read_file(dir / "v.pgm"), "P5\r3 2\r255\r\x65\x66\x67\x68\x69\x6a");
  EXPECT_EQ(read_file(dir / "b.pgm"), "P5\r3 2\r255\r\xc9\xca\xcb\xcc\xcd\xce");
}

TEST(SeparerPlans, PrintsUsageForOtherArgumentCounts) {
  const Outcome outcome = run_command({SEPARER_PLANS_PATH, "in.ppm", "r.pgm"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Usage: ImageIn.ppm PlanR.pgm PlanV.pgm PlanB.pgm \n");
}

TEST(Dimensions, GoesOnAfterAFileItCannotRead) {
  TempDir dir;
  write_file(dir / "a.pgm", "P5\n# comment\n3 2\n15\nabcdef");
  write_file(dir / "b.pgm", "P2\n1 1\n255\n7\n");
  write_file(dir / "c.pgm", "P5 640 480 255\n");  // the header alone is enough
  const Outcome outcome = run_command(
      {DIMENSIONS_PATH, dir / "a.pgm", dir / "b.pgm", dir / "missing.pgm", dir / "c.pgm"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, dir / "a.pgm" + ": 3 x 2, maximum value 15\n" + dir / "b.pgm" +
                             ": Format pgm binaire 8 bits attendu pour l'image " + dir / "b.pgm" +
                             "\n" + dir / "missing.pgm" + ": Pas d'acces en lecture sur l'image " +
                             dir / "missing.pgm" + "\n" + dir / "c.pgm" +
                             ": 640 x 480, maximum value 255\n");
}

}  // namespace

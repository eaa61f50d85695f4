// Compatibility with the image tools people use: what we write, each tool reads with the same
// dimensions and samples; what each tool writes, we read with the same dimensions and samples;
// test_grey agrees with the tools' own thresholds. Where a tool's file is one our reader reads
// differently on purpose (a maximum value other than 255), the test shows that behaviour.
//
// A missing tool fails the test when the CI variable is set, and skips it elsewhere. The results
// are collected into a Markdown table, written to the file that IMAGEFILES_INTEROP_TABLE names,
// when it names one (run the whole program at once for the whole table).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

// tool -> direction -> result, for the table.
std::map<std::string, std::map<std::string, std::string>>& table() {
  static std::map<std::string, std::map<std::string, std::string>> rows;
  return rows;
}

const char* const kReadsOurs = "reads what we write";
const char* const kWeRead = "we read what it writes";
const char* const kThreshold = "same threshold raster as test_grey";
const char* const kDifferent = "read differently, on purpose";

class TableWriter : public testing::Environment {
 public:
  void TearDown() override {
    const char* path = std::getenv("IMAGEFILES_INTEROP_TABLE");
    if (path == nullptr || table().empty()) return;
    std::ofstream out(path);
    out << "| tool | " << kReadsOurs << " | " << kWeRead << " | " << kThreshold << " | "
        << kDifferent << " |\n";
    out << "| --- | --- | --- | --- | --- |\n";
    for (const auto& [tool, results] : table()) {
      out << "| " << tool;
      for (const char* direction : {kReadsOurs, kWeRead, kThreshold, kDifferent}) {
        const auto found = results.find(direction);
        out << " | " << (found == results.end() ? "-" : found->second);
      }
      out << " |\n";
    }
  }
};
const testing::Environment* const kTableWriter = testing::AddGlobalTestEnvironment(new TableWriter);

// A picture in memory: dimensions, samples per pixel and samples.
struct Picture {
  int rows = -1;
  int columns = -1;
  int channels = 1;
  int maximum = 255;
  std::vector<int> samples;
  bool operator==(const Picture& o) const {
    return rows == o.rows && columns == o.columns && channels == o.channels && samples == o.samples;
  }
};

std::ostream& operator<<(std::ostream& os, const Picture& p) {
  return os << p.columns << " x " << p.rows << " x " << p.channels << ", maximum " << p.maximum
            << ", " << p.samples.size() << " samples";
}

Picture generated(int rows, int columns, int channels) {
  Picture p{rows, columns, channels, 255, {}};
  for (int i = 0; i < rows * columns * channels; ++i) p.samples.push_back((i * 67 + i / 7) % 256);
  return p;
}

// A plain (text) greymap or colour file: P2 or P3, comments allowed.
Picture parse_plain(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> tokens;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string word;
    while (words >> word) tokens.push_back(word);
  }
  Picture p;
  if (tokens.size() < 4 || (tokens[0] != "P2" && tokens[0] != "P3")) return p;
  p.channels = tokens[0] == "P3" ? 3 : 1;
  p.columns = std::stoi(tokens[1]);
  p.rows = std::stoi(tokens[2]);
  p.maximum = std::stoi(tokens[3]);
  for (std::size_t i = 4; i < tokens.size(); ++i) p.samples.push_back(std::stoi(tokens[i]));
  return p;
}

// GraphicsMagick's text listing, a line a pixel in row order: "x,y: (r,g,b) #rrggbb".
Picture parse_listing(const std::string& text, int channels) {
  Picture p;
  p.channels = channels;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    int x = 0;
    int y = 0;
    int v[3] = {0, 0, 0};
    if (std::sscanf(line.c_str(), "%d,%d: (%d,%d,%d)", &x, &y, &v[0], &v[1], &v[2]) != 5) continue;
    p.columns = std::max(p.columns, x + 1);
    p.rows = std::max(p.rows, y + 1);
    for (int c = 0; c < channels; ++c) p.samples.push_back(v[c]);
  }
  return p;
}

// Our library's view of a file, read in a child so that a failure cannot end the test program.
Picture read_with_library(const std::string& path, int channels) {
  const Outcome outcome = run_in_child([&] {
    int rows = -1;
    int columns = -1;
    (channels == 3 ? lire_nb_lignes_colonnes_image_ppm : lire_nb_lignes_colonnes_image_pgm)(
        path.c_str(), &rows, &columns);
    std::vector<unsigned char> raster(static_cast<std::size_t>(rows) * columns * channels);
    (channels == 3 ? lire_image_ppm : lire_image_pgm)(path.c_str(), raster.data(), rows * columns);
    std::printf("%d %d\n", rows, columns);
    std::fwrite(raster.data(), 1, raster.size(), stdout);
  });
  Picture p;
  p.channels = channels;
  if (outcome.status != 0) return p;
  std::istringstream in(outcome.out);
  in >> p.rows >> p.columns;
  for (const unsigned char byte : outcome.out.substr(outcome.out.find('\n') + 1)) {
    p.samples.push_back(byte);
  }
  return p;
}

void write_with_library(const std::string& path, const Picture& p) {
  const std::vector<unsigned char> raster(p.samples.begin(), p.samples.end());
  (p.channels == 3 ? ecrire_image_ppm : ecrire_image_pgm)(path.c_str(), raster.data(), p.rows,
                                                          p.columns);
}

// A file's header for the table: its first three lines (magic, dimensions, maximum value), each
// comment line shown as "#...".
std::string header_of(const std::string& path) {
  const std::string bytes = read_file(path);
  std::string shown;
  std::size_t at = 0;
  for (int lines = 0; lines < 3;) {
    const std::size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string::npos) break;
    const std::string line = bytes.substr(at, end - at);
    const bool comment = !line.empty() && line[0] == '#';
    shown += (comment ? "#..." : line) + (bytes[end] == '\n' ? "\\n" : "\\r");
    if (!comment) ++lines;
    at = end + 1;
  }
  return "`" + shown + "`";
}

// A peer tool as tests/peer_tools.txt describes it, and the program that was recognised as it.
struct Peer {
  std::string program;  // the path of the recognised program; empty when none is
  std::string package;  // the Debian package that installs it
};

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  const std::size_t last = text.find_last_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The program is looked for in /usr/bin, then along PATH; the first whose version text holds the
// expected words is the tool (a wrapper of the same name that says otherwise is passed over). The
// benchmark recognises the tools the same way, from the same file.
Peer recognise(const std::string& tool) {
  std::ifstream table(PEER_TOOLS_PATH);
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    for (std::size_t at = 0;;) {
      const std::size_t bar = line.find(" | ", at);
      fields.push_back(trimmed(line.substr(at, bar - at)));
      if (bar == std::string::npos) break;
      at = bar + 3;
    }
    if (fields.size() != 5 || fields[0] != tool) continue;
    const char* path = std::getenv("PATH");
    std::stringstream folders(std::string("/usr/bin:") + (path != nullptr ? path : "/bin"));
    std::string folder;
    while (std::getline(folders, folder, ':')) {
      const std::string candidate = folder + "/" + fields[1];
      if (access(candidate.c_str(), X_OK) != 0) continue;
      if (run_command({"/bin/sh", "-c", fields[2], candidate}).out.find(fields[3]) !=
          std::string::npos) {
        return {candidate, fields[4]};
      }
    }
    return {"", fields[4]};
  }
  return {"", "?"};
}

const Peer& peer(const std::string& tool) {
  static std::map<std::string, Peer> known;
  if (known.count(tool) == 0) known[tool] = recognise(tool);
  return known[tool];
}

// The recognised program of `tool`, or the program `name` beside it (netpbm is many programs).
std::string program_of(const std::string& tool, const std::string& name = "") {
  const std::string& main = peer(tool).program;
  if (main.empty() || name.empty()) return main;
  return main.substr(0, main.rfind('/') + 1) + name;
}

// A test's name for its tool: the tool's own, or one that says why the test is skipped, so that
// the reason shows wherever the name does (ctest prints no skip messages).
std::string name_for(const testing::TestParamInfo<std::string>& info) {
  return peer(info.param).program.empty() ? info.param + "_not_installed" : info.param;
}

using Args = std::vector<std::string>;

// One tool: how it shows a file as samples we can check, how it writes a file of its own from one
// of ours (to `out`, or to standard output), with and without a comment line where it can.
struct Tool {
  std::string name;
  bool present;
  std::function<Picture(const std::string& path, int channels)> view;
  std::function<Args(const std::string& in, const std::string& out, int channels)> rewrite;
  std::function<Args(const std::string& in, const std::string& out, int channels)> commented;
};

// Runs a command that must succeed; its standard output, or the file `out` it writes.
std::string output_of(const Args& args, const std::string& out = "") {
  const Outcome outcome = run_command(args);
  EXPECT_EQ(outcome.status, 0) << args[0];
  return out.empty() ? outcome.out : read_file(out);
}

// A command that writes a binary file on standard output or to `out`; leaves it in `out`.
void write_through(const Args& args, const std::string& out) {
  const Outcome outcome = run_command(args);
  EXPECT_EQ(outcome.status, 0) << args[0];
  if (!outcome.out.empty()) write_file(out, outcome.out);
}

const char* const kPillowToPlain =
    "import sys\n"
    "from PIL import Image\n"
    "im = Image.open(sys.argv[1])\n"
    "print('P3' if im.mode == 'RGB' else 'P2', *im.size, 255)\n"
    "print(*im.tobytes())\n";

Tool tool_named(const std::string& name) {
  if (name == "netpbm") {
    const std::string pamtopnm = program_of("netpbm");
    return {name, !pamtopnm.empty(),
            [=](const std::string& path, int) {
              return parse_plain(output_of({pamtopnm, "-plain", path}));
            },
            [=](const std::string& in, const std::string&, int) {
              return Args{pamtopnm, in};
            },
            nullptr};
  }
  if (name == "ImageMagick") {
    const std::string convert = program_of("ImageMagick");
    return {name, !convert.empty(),
            [=](const std::string& path, int channels) {
              // The format named, or a two-colour picture would come out as a bitmap.
              return parse_plain(output_of(
                  {convert, path, "-compress", "none", channels == 3 ? "ppm:-" : "pgm:-"}));
            },
            [=](const std::string& in, const std::string&, int channels) {
              return Args{convert, in, channels == 3 ? "ppm:-" : "pgm:-"};
            },
            [=](const std::string& in, const std::string&, int channels) {
              return Args{convert,
                          in,
                          "-set",
                          "comment",
                          "written by ImageMagick",
                          channels == 3 ? "ppm:-" : "pgm:-"};
            }};
  }
  if (name == "GraphicsMagick") {
    const std::string gm = program_of("GraphicsMagick");
    return {name, !gm.empty(),
            [=](const std::string& path, int channels) {
              return parse_listing(output_of({gm, "convert", path, "txt:-"}), channels);
            },
            [=](const std::string& in, const std::string&, int channels) {
              return Args{gm, "convert", in, channels == 3 ? "ppm:-" : "pgm:-"};
            },
            [=](const std::string& in, const std::string&, int channels) {
              return Args{gm,         "convert",
                          "-comment", "written by GraphicsMagick",
                          in,         channels == 3 ? "ppm:-" : "pgm:-"};
            }};
  }
  if (name == "libvips") {
    const std::string vips = program_of("libvips");
    // vips always writes a comment line of its own.
    return {name, !vips.empty(),
            [=](const std::string& path, int channels) {
              // The suffix names the format; without one vips writes colour.
              const std::string out = path + (channels == 3 ? ".plain.ppm" : ".plain.pgm");
              return parse_plain(output_of({vips, "ppmsave", path, out, "--ascii"}, out));
            },
            nullptr,
            [=](const std::string& in, const std::string& out, int) {
              return Args{vips, "copy", in, out};
            }};
  }
  // Pillow, through the Python that has it (Debian's, with python3-pil).
  const std::string python = program_of("Pillow");
  return {name, !python.empty(),
          [=](const std::string& path, int) {
            return parse_plain(output_of({python, "-c", kPillowToPlain, path}));
          },
          [=](const std::string& in, const std::string& out, int) {
            return Args{python, "-c",
                        "import sys; from PIL import Image; "
                        "Image.open(sys.argv[1]).save(sys.argv[2], format='PPM')",
                        in, out};
          },
          nullptr};
}

// Fails when the CI variable is set and skips elsewhere when the tool is missing.
#define REQUIRE_TOOL(tool)                                                                      \
  do {                                                                                          \
    if (!(tool).present) {                                                                      \
      if (std::getenv("CI") != nullptr) FAIL() << (tool).name << " is missing: CI installs it"; \
      GTEST_SKIP() << (tool).name << " is not installed (apt-get install -y "                   \
                   << peer((tool).name).package << ")";                                         \
    }                                                                                           \
  } while (false)

class ToolInterop : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { REQUIRE_TOOL(tool_); }
  Tool tool_ = tool_named(GetParam());
};

const std::vector<std::pair<int, int>> kSizes = {{1, 1}, {2, 3}, {5, 17}, {48, 64}};

TEST_P(ToolInterop, ReadsWhatWeWrite) {
  TempDir dir;
  for (const int channels : {1, 3}) {
    for (const auto& [rows, columns] : kSizes) {
      const Picture picture = generated(rows, columns, channels);
      const std::string path = dir / (channels == 3 ? "ours.ppm" : "ours.pgm");
      write_with_library(path, picture);
      const Picture seen = tool_.view(path, channels);
      EXPECT_EQ(seen, picture) << rows << " x " << columns << " x " << channels;
      EXPECT_EQ(seen.maximum, 255);
    }
  }
  if (!HasFailure()) {
    table()[tool_.name][kReadsOurs] = "yes (P5 and P6, 1 x 1 to 64 x 48, odd widths)";
  }
}

TEST_P(ToolInterop, WritesWhatWeRead) {
  TempDir dir;
  std::string headers;
  for (const auto& rewrite : {tool_.rewrite, tool_.commented}) {
    if (!rewrite) continue;
    for (const int channels : {1, 3}) {
      for (const auto& [rows, columns] : kSizes) {
        const Picture picture = generated(rows, columns, channels);
        const std::string ours = dir / (channels == 3 ? "ours.ppm" : "ours.pgm");
        const std::string theirs = dir / (channels == 3 ? "theirs.ppm" : "theirs.pgm");
        write_with_library(ours, picture);
        write_through(rewrite(ours, theirs, channels), theirs);
        EXPECT_EQ(read_with_library(theirs, channels), picture)
            << rows << " x " << columns << " x " << channels;
        if (rows == 2) headers += (headers.empty() ? "" : ", ") + header_of(theirs);
      }
    }
  }
  if (!HasFailure()) table()[tool_.name][kWeRead] = "yes, headers " + headers;
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolInterop,
                         testing::Values("netpbm", "ImageMagick", "GraphicsMagick", "libvips",
                                         "Pillow"),
                         name_for);

// The raster of a binary file written by a tool: the bytes after its three header lines.
std::string raster_of(const std::string& path) {
  const std::string bytes = read_file(path);
  std::size_t at = 0;
  for (int lines = 0; lines < 3; at = bytes.find('\n', at) + 1) {
    if (bytes[at] != '#') ++lines;
  }
  return bytes.substr(at);
}

// The maximum value is ignored: a 4-bit greymap's samples are read as they are, 0 to 15, not
// scaled to 255.
// Tests that need one tool, named after it (see name_for).
class WithTool : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { REQUIRE_TOOL(tool_); }
  Tool tool_ = tool_named(GetParam());
};
using Netpbm = WithTool;
using ImageMagick = WithTool;

TEST_P(Netpbm, MaximumValueFifteenGivesRawSamples) {
  const Tool& netpbm = tool_;
  const std::string pamdepth = program_of("netpbm", "pamdepth");
  TempDir dir;
  const Picture picture = generated(5, 17, 1);
  write_with_library(dir / "ours.pgm", picture);
  write_through({pamdepth, "15", dir / "ours.pgm"}, dir / "fifteen.pgm");
  const Picture theirs = netpbm.view(dir / "fifteen.pgm", 1);
  ASSERT_EQ(theirs.maximum, 15);
  EXPECT_EQ(read_with_library(dir / "fifteen.pgm", 1), theirs);
  if (!HasFailure()) {
    table()["netpbm"][kDifferent] =
        "`pamdepth 15`: maximum value 15, samples read as they are (0 to 15), not scaled";
  }
}

// Samples are one byte: a 16-bit greymap gives, for its first rows x columns bytes, each sample's
// high byte then its low byte.
TEST_P(ImageMagick, SixteenBitSamplesAreReadAsBytes) {
  const Tool& magick = tool_;
  TempDir dir;
  const Picture picture = generated(5, 17, 1);
  write_with_library(dir / "ours.pgm", picture);
  write_through({program_of("ImageMagick"), dir / "ours.pgm", "-depth", "16", "pgm:-"},
                dir / "sixteen.pgm");
  const Picture theirs = magick.view(dir / "sixteen.pgm", 1);
  ASSERT_EQ(theirs.maximum, 65535);
  Picture expected = picture;
  expected.samples.clear();
  for (const int sample : theirs.samples) {
    if (expected.samples.size() < picture.samples.size()) expected.samples.push_back(sample >> 8);
    if (expected.samples.size() < picture.samples.size()) expected.samples.push_back(sample & 255);
  }
  const std::string raster = raster_of(dir / "sixteen.pgm");
  ASSERT_EQ(raster.size(), 2 * picture.samples.size());
  EXPECT_EQ(read_with_library(dir / "sixteen.pgm", 1), expected);
  if (!HasFailure()) {
    table()["ImageMagick"][kDifferent] =
        "`-depth 16`: maximum value 65535, two bytes a sample; the first rows x columns bytes "
        "are read, one a pixel";
  }
}

// test_grey and the tools' own thresholds give the same raster. "At least T" is libvips'
// moreeq T, and GraphicsMagick's "above (T - 0.5) / 255".
class SameThreshold : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { REQUIRE_TOOL(tool_); }
  Tool tool_ = tool_named(GetParam());
};

TEST_P(SameThreshold, AsTestGrey) {
  TempDir dir;
  const std::vector<int> thresholds = {1, 64, 128, 200, 255};
  for (const int t : thresholds) {
    const Outcome ours =
        run_command({TEST_GREY_PATH, SAMPLE_PATH, dir / "ours.pgm", std::to_string(t)});
    ASSERT_EQ(ours.out, "");
    const std::string theirs = dir / "theirs.pgm";
    char level[32];
    std::snprintf(level, sizeof level, "%.6f%%", (t - 0.5) / 255 * 100);
    write_through(tool_.name == "libvips" ? Args{program_of("libvips"), "relational_const",
                                                 SAMPLE_PATH, theirs, "moreeq", std::to_string(t)}
                                          : Args{program_of("GraphicsMagick"), "convert",
                                                 SAMPLE_PATH, "-threshold", level, theirs},
                  theirs);
    EXPECT_EQ(read_with_library(theirs, 1), read_with_library(dir / "ours.pgm", 1)) << t;
  }
  if (!HasFailure()) {
    table()[tool_.name][kThreshold] =
        tool_.name == "libvips" ? "yes: `relational_const moreeq T`, T = 1, 64, 128, 200, 255"
                                : "yes: `-threshold P%`, P = (T - 0.5) / 255 x 100, same T";
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, SameThreshold, testing::Values("libvips", "GraphicsMagick"),
                         name_for);

// The status-returning reader on every variant the tools write: each is read exactly as netpbm
// reads it (samples as stored, not scaled), or refused with the status that names what it is.
struct Variant {
  const char* tool;  // the tool that writes it
  const char* what;
  int channels;  // of the file the tool starts from, and of the reader used
  std::function<Args(const std::string& in)> make;
  statut_image expected;
};

TEST_P(Netpbm, ToolVariantsReadAsNetpbmReadsThemOrAreRefused) {
  const std::string convert = program_of("ImageMagick");
  const std::string gm = program_of("GraphicsMagick");
  // netpbm's programs read standard input (some of them only that).
  const auto from_stdin = [](const std::string& in, const std::string& program,
                             std::vector<std::string> options) {
    Args args = {"/bin/sh", "-c", "in=$1; shift; exec \"$@\" < \"$in\"", "sh", in, program};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  };
  const auto netpbm_tool = [&](const char* name, std::vector<std::string> options) {
    return
        [=](const std::string& in) { return from_stdin(in, program_of("netpbm", name), options); };
  };
  // Samples as netpbm reads them, in a plain file of the same kind (pamtopnm would make a bitmap
  // of a maximum value of 1).
  const auto netpbm_view = [&](const std::string& path, int channels) {
    return parse_plain(output_of(from_stdin(
        path, program_of("netpbm", channels == 3 ? "ppmtoppm" : "pgmtopgm"), {"-plain"})));
  };
  const auto magick = [&](std::vector<std::string> options, const char* format) {
    return [=](const std::string& in) {
      Args args = {convert, in};
      args.insert(args.end(), options.begin(), options.end());
      args.push_back(format);
      return args;
    };
  };
  const std::vector<Variant> variants = {
      {"netpbm", "plain greymap (P2)", 1, netpbm_tool("pamtopnm", {"-plain"}), IMAGE_PAS_PGM},
      {"netpbm", "plain colour (P3)", 3, netpbm_tool("pamtopnm", {"-plain"}), IMAGE_PAS_PPM},
      {"netpbm", "maximum value 15", 1, netpbm_tool("pamdepth", {"15"}), IMAGE_OK},
      {"netpbm", "maximum value 1", 1, netpbm_tool("pamdepth", {"1"}), IMAGE_OK},
      {"netpbm", "colour, maximum value 15", 3, netpbm_tool("pamdepth", {"15"}), IMAGE_OK},
      {"netpbm", "16-bit greymap", 1, netpbm_tool("pamdepth", {"65535"}), IMAGE_16_BITS},
      {"netpbm", "16-bit colour", 3, netpbm_tool("pamdepth", {"65535"}), IMAGE_16_BITS},
      {"netpbm", "PAM greymap (P7)", 1, netpbm_tool("pamtopam", {}), IMAGE_PAS_PGM},
      {"netpbm", "PAM colour (P7)", 3, netpbm_tool("pamtopam", {}), IMAGE_PAS_PPM},
      {"netpbm", "black-and-white PAM", 1, netpbm_tool("pamthreshold", {"-simple"}), IMAGE_PAS_PGM},
      {"ImageMagick", "bitmap (P4)", 1, magick({"-monochrome"}, "pbm:-"), IMAGE_PAS_PGM},
      {"ImageMagick", "plain bitmap (P1)", 1, magick({"-monochrome", "-compress", "none"}, "pbm:-"),
       IMAGE_PAS_PGM},
      {"ImageMagick", "comment in the header", 1, magick({"-set", "comment", "a b"}, "pgm:-"),
       IMAGE_OK},
      {"ImageMagick", "16-bit greymap", 1, magick({"-depth", "16"}, "pgm:-"), IMAGE_16_BITS},
      {"ImageMagick", "colour file given to the greymap reader", 1, magick({}, "ppm:-"),
       IMAGE_PAS_PGM},
      {"ImageMagick", "greymap given to the colour reader", 3, magick({}, "pgm:-"), IMAGE_PAS_PPM},
      {"GraphicsMagick", "comment in the header", 3,
       [&](const std::string& in) { return Args{gm, "convert", "-comment", "a\nb", in, "ppm:-"}; },
       IMAGE_OK},
  };
  TempDir dir;
  for (const int channels : {1, 3}) {
    write_with_library(dir / (channels == 3 ? "ours.ppm" : "ours.pgm"), generated(5, 17, channels));
  }
  for (const Variant& v : variants) {
    const Tool tool = tool_named(v.tool);
    if (!tool.present && std::getenv("CI") == nullptr) continue;  // what is here is still checked
    // The greymap and colour readers are swapped on purpose in two variants.
    const bool swapped = std::string(v.what).find("given to") != std::string::npos;
    const int source = swapped ? 4 - v.channels : v.channels;
    const std::string path = dir / "variant";
    write_through(v.make(dir / (source == 3 ? "ours.ppm" : "ours.pgm")), path);
    std::vector<unsigned char> raster(5 * 17 * 3);
    Picture ours;
    ours.channels = v.channels;
    const statut_image status = (v.channels == 3 ? charger_image_ppm : charger_image_pgm)(
        path.c_str(), raster.data(), raster.size(), &ours.rows, &ours.columns, &ours.maximum);
    EXPECT_EQ(status, v.expected) << v.tool << ": " << v.what;
    if (status != IMAGE_OK) continue;
    const Picture theirs = netpbm_view(path, v.channels);
    ours.samples.assign(raster.begin(), raster.begin() + ours.rows * ours.columns * v.channels);
    EXPECT_EQ(ours, theirs) << v.tool << ": " << v.what;
    EXPECT_EQ(ours.maximum, theirs.maximum) << v.tool << ": " << v.what;
  }
}

// The README's pictures are the shipped sample and its binarisation at 128, as they are now.
TEST_P(Netpbm, PicturesOfTheReadmeAreCurrent) {
  TempDir dir;
  ASSERT_EQ(run_command({TEST_GREY_PATH, SAMPLE_PATH, dir / "128.pgm", "128"}).out, "");
  const std::pair<std::string, std::string> pictures[] = {
      {PICTURES_PATH "/sample.png", SAMPLE_PATH},
      {PICTURES_PATH "/sample-128.png", dir / "128.pgm"}};
  for (const auto& [png, greymap] : pictures) {
    // A two-level picture may be stored as a bitmap: its samples are brought to 0 and 255.
    const Picture seen = parse_plain(
        output_of({"/bin/sh", "-c", "\"$0\" \"$1\" | \"$2\" 255 | \"$3\" -plain",
                   program_of("netpbm", "pngtopam"), png, program_of("netpbm", "pamdepth"),
                   program_of("netpbm", "pamtopnm")}));
    EXPECT_EQ(seen, read_with_library(greymap, 1)) << png;
  }
}

INSTANTIATE_TEST_SUITE_P(ReadDifferently, Netpbm, testing::Values("netpbm"), name_for);
INSTANTIATE_TEST_SUITE_P(ReadDifferently, ImageMagick, testing::Values("ImageMagick"), name_for);

}  // namespace

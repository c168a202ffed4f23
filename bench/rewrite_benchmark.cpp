// Microbenchmarks of the three stages of a run (load, rule, save) on the
// shapes that stress the rule, 2,000,000 repetitions each, and on a realistic
// program of the same number of lines. Each shape is written once to a file
// under the temporary directory.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "driver/rewrite_rule.h"
#include "textfile/text_file.h"

namespace ncrewrite {
namespace {

constexpr std::size_t kRepetitions = 2'000'000;

enum class Shape { kOnlyM80, kM104M80M81, kRealistic };

/// A header line, then `unit` repeated, every line ended by CR LF.
std::string Repeated(const std::vector<std::string_view>& unit) {
  std::string text = "%\r\n";
  for (std::size_t k = 0; k < kRepetitions; ++k) {
    for (const std::string_view line : unit) {
      text += line;
      text += "\r\n";
    }
  }
  return text;
}

/// Moves with an "M104" / "G4" / "M80" / "M81" block every 200 lines.
std::string Realistic() {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> coordinate(-200000, 200000);
  std::string text;
  char line[96];
  for (std::size_t n = 1; n <= kRepetitions; ++n) {
    if (n % 200 == 0) {
      text += "M104\r\nG4 P2\r\nM80\r\nM81\r\n";
      continue;
    }
    std::snprintf(line, sizeof line, "N%zu G1 X%.3f Y%.3f Z%.3f F1200\r\n", n * 10,
                  coordinate(random) / 1000.0, coordinate(random) / 1000.0,
                  coordinate(random) / 10000.0);
    text += line;
  }
  return text;
}

/// The file of one shape, written on first use and removed at exit.
class ShapeFile {
 public:
  explicit ShapeFile(Shape shape) {
    const std::string bytes = shape == Shape::kOnlyM80      ? Repeated({"M80"})
                              : shape == Shape::kM104M80M81 ? Repeated({"M104", "M80", "M81"})
                                                            : Realistic();
    const std::string name = "ncrewrite-bench-" + std::to_string(std::random_device()()) + "-" +
                             std::to_string(static_cast<int>(shape));
    path_ = (std::filesystem::temp_directory_path() / (name + ".nc")).string();
    output_ = (std::filesystem::temp_directory_path() / (name + ".tap")).string();
    std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    size_ = bytes.size();
  }
  ~ShapeFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::remove(output_, ignored);
  }
  ShapeFile(const ShapeFile&) = delete;
  ShapeFile& operator=(const ShapeFile&) = delete;

  const std::string& path() const { return path_; }
  const std::string& output() const { return output_; }
  std::size_t size() const { return size_; }

 private:
  std::string path_;
  std::string output_;
  std::size_t size_ = 0;
};

const ShapeFile& FileOf(Shape shape) {
  static ShapeFile only_m80(Shape::kOnlyM80);
  static ShapeFile triples(Shape::kM104M80M81);
  static ShapeFile realistic(Shape::kRealistic);
  switch (shape) {
    case Shape::kOnlyM80:
      return only_m80;
    case Shape::kM104M80M81:
      return triples;
    case Shape::kRealistic:
      break;
  }
  return realistic;
}

void SetBytes(benchmark::State& state, const ShapeFile& file) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

void BM_Load(benchmark::State& state, Shape shape) {
  const ShapeFile& file = FileOf(shape);
  for (auto _ : state) {
    LineList lines;
    LoadTextFile(lines, file.path());
    benchmark::DoNotOptimize(lines.text_begin());
  }
  SetBytes(state, file);
}

void BM_Rule(benchmark::State& state, Shape shape) {
  const ShapeFile& file = FileOf(shape);
  std::optional<LineList> lines;
  for (auto _ : state) {
    state.PauseTiming();
    lines.emplace();
    LoadTextFile(*lines, file.path());
    state.ResumeTiming();
    ApplyRewriteRule(*lines);
    benchmark::ClobberMemory();
  }
  SetBytes(state, file);
}

void BM_Save(benchmark::State& state, Shape shape) {
  const ShapeFile& file = FileOf(shape);
  LineList lines;
  LoadTextFile(lines, file.path());
  // A save lets go of a view of the loaded file; a copy can be saved again.
  lines.stored_bytes().MakeCopy();
  ApplyRewriteRule(lines);
  for (auto _ : state) SaveTextFile(lines, file.output());
  SetBytes(state, file);
}

#define NCREWRITE_STAGES(shape_name, shape)                                          \
  BENCHMARK_CAPTURE(BM_Load, shape_name, shape)->Unit(benchmark::kMillisecond);      \
  BENCHMARK_CAPTURE(BM_Rule, shape_name, shape)->Unit(benchmark::kMillisecond);      \
  BENCHMARK_CAPTURE(BM_Save, shape_name, shape)->Unit(benchmark::kMillisecond)

NCREWRITE_STAGES(only_m80_x2M, Shape::kOnlyM80);
NCREWRITE_STAGES(m104_m80_m81_x2M, Shape::kM104M80M81);
NCREWRITE_STAGES(realistic_2M_lines, Shape::kRealistic);

}  // namespace
}  // namespace ncrewrite

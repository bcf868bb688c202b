#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "models/matrix_market.h"

namespace orv::models {
namespace {

namespace fs = std::filesystem;

std::string matrixPath(const std::string& name) {
  return std::string(ORV_MATRICES_DIR) + "/" + name;
}

// A directory of its own under the system temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir() {
    const std::string unique = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    path_ = fs::temp_directory_path() / ("orv_models_" + unique + "_" + std::to_string(::getpid()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string write(const std::string& name, const std::string& text) const {
    const std::string file = (path_ / name).string();
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::size_t zeros(const std::vector<Triplet>& entries) {
  std::size_t count = 0;
  for (const Triplet& t : entries) count += t.value == 0.0;
  return count;
}

// Every Matrix Market file of the shared collection, with the order and stored-entry count of its
// README table, and the explicit zeros it lists.
TEST(MatrixMarketReader, ReadsEverySharedMatrix) {
  const struct {
    const char* file;
    int n;
    std::size_t stored;
    std::size_t zeros;
  } table[] = {
      {"bcsstk04.mtx", 132, 1890, 0},
      {"bcsstk05.mtx", 153, 1288, 0},
      {"bcsstk08.mtx", 1074, 7017, 0},
      {"bcsstk11.mtx", 1473, 17857, 0},
      {"bcsstk13.mtx", 2003, 42943, 0},
      {"bcsstk14.mtx", 1806, 32630, 0},
      {"bcsstk18.mtx", 11948, 80519, 0},
      {"bcsstk25.mtx", 15439, 133840, 0},
      {"s3rmt3m3.mtx", 5357, 106526, 286},
      {"LUNDA.mtx", 147, 1298, 0},
      {"lund_b.mtx", 147, 1294, 0},
      {"bcsstm01.mtx", 48, 48, 24},
      {"bcsstm02.mtx", 66, 66, 0},
      {"bcsstm05.mtx", 153, 153, 0},
      {"bcsstm08.mtx", 1074, 1074, 0},
      {"bcsstm11.mtx", 1473, 1473, 0},
      {"converted/bcsstk01.mtx", 48, 224, 0},
      {"converted/bcsstk02.mtx", 66, 2211, 0},
      {"converted/bcsstk16.mtx", 4884, 147631, 0},
      {"converted/bcsstm03.mtx", 112, 112, 40},
      {"converted/bcsstm04.mtx", 132, 132, 66},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.file);
    const SymmetricMatrix m = readSymmetric(matrixPath(row.file));
    EXPECT_EQ(m.n, row.n);
    EXPECT_EQ(m.lower.size(), row.stored);
    EXPECT_EQ(zeros(m.lower), row.zeros);
    for (const Triplet& t : m.lower) {
      ASSERT_TRUE(t.row >= t.col && t.col >= 0 && t.row < m.n);
      ASSERT_TRUE(std::isfinite(t.value));
    }
  }
}

TEST(MatrixMarketReader, ValuesAndFieldsAsStored) {
  const CoordinateMatrix k08 = readCoordinate(matrixPath("bcsstk08.mtx"));
  EXPECT_EQ(k08.field, MatrixMarketField::Real);
  EXPECT_EQ(k08.symmetry, MatrixMarketSymmetry::Symmetric);
  EXPECT_EQ(k08.sizeLine, 2);
  EXPECT_EQ(k08.entries[0], (Triplet{0, 0, 1.4843520000000e+06}));
  EXPECT_EQ(k08.entries[15], (Triplet{4, 3, 2.9103830456700e-11}));
  EXPECT_EQ(k08.lines[15], 18);

  const CoordinateMatrix m01 = readCoordinate(matrixPath("bcsstm01.mtx"));
  EXPECT_EQ(m01.field, MatrixMarketField::Integer);
  EXPECT_EQ(m01.entries[0], (Triplet{0, 0, 100.0}));
  EXPECT_EQ(m01.entries[3], (Triplet{3, 3, 0.0}));

  const CoordinateMatrix k25 = readCoordinate(matrixPath("bcsstk25.mtx"));
  EXPECT_EQ(k25.entries.back(), (Triplet{15438, 15438, 848171019.8635}));

  const DenseArray eig = readArray(matrixPath("bcsst11eig.mtx"));
  EXPECT_EQ(eig.rows, 1473);
  EXPECT_EQ(eig.cols, 1);
  ASSERT_EQ(eig.values.size(), 1473u);
  EXPECT_EQ(eig.values.front(), 1.0511482616147660e+01);
  EXPECT_EQ(eig.values.back(), 4.7502915202279873e+09);
}

TEST(MatrixMarketWriter, RoundTripIsExact) {
  const TempDir dir;
  const unsigned seed = 20240611;
  std::printf("round-trip seed %u\n", seed);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-300, 300);
  const int n = 40;
  std::vector<Triplet> lower;
  for (int col = 0; col < n; ++col) {
    for (int row = col; row < n; row += 3) {
      lower.push_back({row, col, std::ldexp(mantissa(random), exponent(random))});
    }
  }
  lower.push_back({5, 5, 0.0});
  lower.push_back({6, 6, 1.0 / 3.0});
  lower.push_back({7, 0, std::numeric_limits<double>::denorm_min()});
  lower.push_back({8, 1, -std::numeric_limits<double>::max()});
  lower.push_back({8, 1, 2.5});
  const std::string file = dir.file("round.mtx");
  writeSymmetric(file, n, lower, "written by the round-trip test\nsecond comment line");
  const SymmetricMatrix back = readSymmetric(file);
  EXPECT_EQ(back.n, n);
  EXPECT_EQ(back.lower, lower);

  std::vector<double> block(7 * 3);
  for (double& v : block) v = std::ldexp(mantissa(random), exponent(random));
  const std::string arrayFile = dir.file("block.mtx");
  writeArray(arrayFile, 7, 3, block);
  const DenseArray a = readArray(arrayFile);
  EXPECT_EQ(a.rows, 7);
  EXPECT_EQ(a.cols, 3);
  EXPECT_EQ(a.values, block);

  EXPECT_THROW(writeSymmetric(dir.file("bad.mtx"), 3, std::vector<Triplet>{{0, 1, 1.0}}),
               std::invalid_argument);
  EXPECT_THROW(writeSymmetric(dir.file("bad.mtx"), 3, std::vector<Triplet>{{3, 1, 1.0}}),
               std::invalid_argument);
  EXPECT_THROW(writeArray(dir.file("bad.mtx"), 2, 2, block), std::invalid_argument);
  try {
    writeSymmetric(dir.file("no/such/dir.mtx"), 1, std::vector<Triplet>{});
    ADD_FAILURE() << "no error for an unwritable path";
  } catch (const MatrixMarketError& e) {
    EXPECT_EQ(std::string(e.what()),
              dir.file("no/such/dir.mtx") + ": cannot open file for writing");
  }
}

TEST(MatrixMarketReader, ToleratesCommentsBlankLinesAndLineEndings) {
  const TempDir dir;
  const std::string file =
      dir.write("loose.mtx",
                "%%MatrixMarket Matrix Coordinate REAL Symmetric\r\n% comment\r\n\r\n  3 3 4\r\n"
                "1 1 4.0\r\n\r\n% between entries\r\n2 1 -1e0\r\n2\t2  +.5\r\n3 3 1E+2   \r\n");
  const SymmetricMatrix m = readSymmetric(file);
  EXPECT_EQ(m.n, 3);
  EXPECT_EQ(m.lower, (std::vector<Triplet>{{0, 0, 4.0}, {1, 0, -1.0}, {1, 1, 0.5}, {2, 2, 100.0}}));
}

TEST(MatrixMarketReader, GeneralFilesAreCheckedForSymmetry) {
  const TempDir dir;
  // Duplicates are summed before comparing: (1, 2) = 1 + 2 matches (2, 1) = 3.
  const std::string symmetric = dir.write(
      "general.mtx",
      "%%MatrixMarket matrix coordinate real general\n3 3 6\n1 1 2\n1 2 1\n2 1 3\n1 2 2\n3 3 5\n"
      "3 2 0\n");
  const SymmetricMatrix s = readSymmetric(symmetric);
  EXPECT_EQ(s.n, 3);
  EXPECT_EQ(s.lower, (std::vector<Triplet>{{0, 0, 2.0}, {1, 0, 3.0}, {2, 2, 5.0}, {2, 1, 0.0}}));

  const std::string asymmetric = dir.write(
      "asym.mtx",
      "%%MatrixMarket matrix coordinate real general\n3 3 4\n1 1 2\n2 1 3\n3 1 7\n1 3 7.5\n");
  const CoordinateMatrix c = readCoordinate(asymmetric);
  const std::optional<AsymmetricEntry> first = findAsymmetry(c);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->row, 1);
  EXPECT_EQ(first->col, 0);
  EXPECT_EQ(first->value, 3.0);
  EXPECT_EQ(first->mirrorValue, 0.0);
  EXPECT_EQ(first->line, 4);

  const std::string near = dir.write(
      "near.mtx", "%%MatrixMarket matrix coordinate real general\n3 3 3\n1 1 2\n3 1 7\n1 3 7.5\n");
  const CoordinateMatrix nearly = readCoordinate(near);
  ASSERT_TRUE(findAsymmetry(nearly).has_value());
  EXPECT_EQ(findAsymmetry(nearly)->line, 4);
  EXPECT_EQ(findAsymmetry(nearly)->mirrorValue, 7.5);
  EXPECT_FALSE(findAsymmetry(nearly, 0.1).has_value());
  try {
    readSymmetric(asymmetric);
    ADD_FAILURE() << "no error for an asymmetric matrix";
  } catch (const MatrixMarketError& e) {
    EXPECT_EQ(std::string(e.what()),
              asymmetric + ":4: matrix is not symmetric: entry (2, 1) = 3 but (1, 2) = 0");
  }

  const std::string pattern = dir.write(
      "pattern.mtx", "%%MatrixMarket matrix coordinate pattern general\n2 2 3\n1 1\n2 1\n1 2\n");
  const SymmetricMatrix p = readSymmetric(pattern);
  EXPECT_EQ(p.lower, (std::vector<Triplet>{{0, 0, 1.0}, {1, 0, 1.0}}));
}

// Each malformed input names the file and the 1-based line.
TEST(MatrixMarketReader, MalformedInputErrors) {
  const TempDir dir;
  const std::string banner = "%%MatrixMarket matrix coordinate real symmetric\n";
  const struct {
    const char* name;
    std::string text;
    std::string message;  // after "<file>:"
  } cases[] = {
      {"empty.mtx", "",
       "1: empty file, expected the banner '%%MatrixMarket matrix <format> <field> <symmetry>'"},
      {"banner.mtx", "%MatrixMarket matrix coordinate real symmetric\n3 3 0\n",
       "1: bad banner '%MatrixMarket matrix coordinate real symmetric', expected '%%MatrixMarket "
       "matrix <format> <field> <symmetry>'"},
      {"short_banner.mtx", "%%MatrixMarket matrix coordinate real\n",
       "1: bad banner '%%MatrixMarket matrix coordinate real', expected '%%MatrixMarket matrix "
       "<format> <field> <symmetry>'"},
      {"complex.mtx", "%%MatrixMarket matrix coordinate complex general\n1 1 1\n1 1 1 0\n",
       "1: unsupported field 'complex' for a coordinate file"},
      {"hermitian.mtx", "%%MatrixMarket matrix coordinate real hermitian\n",
       "1: unsupported symmetry 'hermitian' for a coordinate file"},
      {"skew.mtx", "%%MatrixMarket matrix coordinate real skew-symmetric\n",
       "1: unsupported symmetry 'skew-symmetric' for a coordinate file"},
      {"vector.mtx", "%%MatrixMarket vector coordinate real general\n",
       "1: unsupported object 'vector', only 'matrix' is read"},
      {"format.mtx", "%%MatrixMarket matrix sparse real general\n",
       "1: unsupported format 'sparse', expected 'coordinate' or 'array'"},
      {"array.mtx", "%%MatrixMarket matrix array real general\n2 1\n1\n2\n",
       "1: expected a coordinate file, found an array file"},
      {"no_size.mtx", banner + "% only comments\n\n",
       "4: missing size line 'rows columns entries'"},
      {"size.mtx", banner + "% comment\n3 3\n",
       "3: bad size line '3 3', expected 'rows columns entries'"},
      {"size_text.mtx", banner + "3 x 3\n",
       "2: bad size line '3 x 3', expected 'rows columns entries'"},
      {"size_negative.mtx", banner + "3 3 -1\n",
       "2: bad size line '3 3 -1', expected 'rows columns entries'"},
      {"size_huge.mtx", banner + "3000000000 3000000000 1\n",
       "2: dimensions '3000000000 3000000000 1' too large for 32-bit indices"},
      {"rectangular.mtx", banner + "3 4 0\n",
       "2: matrix is not square (3 x 4) but declared symmetric"},
      {"few.mtx", banner + "3 3 3\n1 1 1.0\n2 2 1.0\n\n",
       "6: end of file after 2 of the 3 declared entries"},
      {"many.mtx", banner + "3 3 2\n1 1 1.0\n2 2 1.0\n% late comment\n3 3 1.0\n",
       "6: more entries than the 2 declared"},
      {"row.mtx", banner + "3 3 2\n1 1 1.0\n4 2 1.0\n", "4: row index 4 outside 1..3"},
      {"column.mtx", banner + "3 3 1\n2 0 1.0\n", "3: column index 0 outside 1..3"},
      {"index_text.mtx", banner + "3 3 1\n2.0 1 1.0\n", "3: row index '2.0' is not an integer"},
      {"value.mtx", banner + "3 3 2\n1 1 1.0\n2 1 abc\n", "4: value 'abc' is not a number"},
      {"value_tail.mtx", banner + "3 3 1\n2 1 1.5x\n", "3: value '1.5x' is not a number"},
      {"missing_value.mtx", banner + "3 3 1\n2 1\n",
       "3: bad entry '2 1', expected 'row column value'"},
      {"extra.mtx", banner + "3 3 1\n2 1 1.0 7\n",
       "3: bad entry '2 1 1.0 7', expected 'row column value'"},
      {"integer.mtx", "%%MatrixMarket matrix coordinate integer symmetric\n2 2 1\n1 1 1.5\n",
       "3: value '1.5' is not an integer"},
      {"upper.mtx", banner + "3 3 2\n1 1 1.0\n1 3 2.0\n",
       "4: entry (1, 3) above the diagonal of a symmetric file"},
      {"general_rect.mtx", "%%MatrixMarket matrix coordinate real general\n% c\n2 3 1\n1 3 1.0\n",
       "3: matrix is not square (2 x 3)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.write(c.name, c.text);
    try {
      readSymmetric(file);
      ADD_FAILURE() << "no error";
    } catch (const MatrixMarketError& e) {
      EXPECT_EQ(std::string(e.what()), file + ":" + c.message);
    }
  }

  const std::string missing = dir.file("absent.mtx");
  try {
    readSymmetric(missing);
    ADD_FAILURE() << "no error for a missing file";
  } catch (const MatrixMarketError& e) {
    EXPECT_EQ(std::string(e.what()), missing + ": cannot open file");
  }

  const struct {
    const char* name;
    std::string text;
    std::string message;
  } arrays[] = {
      {"coordinate.mtx", banner + "1 1 1\n1 1 1\n",
       "1: expected an array file, found a coordinate file"},
      {"array_symmetric.mtx", "%%MatrixMarket matrix array real symmetric\n2 2\n1\n2\n3\n",
       "1: unsupported symmetry 'symmetric' for an array file"},
      {"array_size.mtx", "%%MatrixMarket matrix array real general\n2 1 2\n1\n2\n",
       "2: bad size line '2 1 2', expected 'rows columns'"},
      {"array_few.mtx", "%%MatrixMarket matrix array real general\n2 2\n1\n2\n3\n",
       "6: end of file after 3 of the 4 declared values"},
      {"array_many.mtx", "%%MatrixMarket matrix array real general\n1 1\n1\n2\n",
       "4: more values than the 1 declared"},
      {"array_two.mtx", "%%MatrixMarket matrix array real general\n2 1\n1 2\n",
       "3: bad entry '1 2', expected one value"},
      {"array_value.mtx", "%%MatrixMarket matrix array real general\n2 1\n1\n--2\n",
       "4: value '--2' is not a number"},
  };
  for (const auto& c : arrays) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.write(c.name, c.text);
    try {
      readArray(file);
      ADD_FAILURE() << "no error";
    } catch (const MatrixMarketError& e) {
      EXPECT_EQ(std::string(e.what()), file + ":" + c.message);
    }
  }
}

TEST(MatrixMarketReader, StreamNameAppearsInMessages) {
  std::istringstream in("%%MatrixMarket matrix coordinate real symmetric\n2 2 1\n3 1 1\n");
  try {
    readSymmetric(in, "memory");
    ADD_FAILURE() << "no error";
  } catch (const MatrixMarketError& e) {
    EXPECT_EQ(std::string(e.what()), "memory:3: row index 3 outside 1..2");
  }
}

}  // namespace
}  // namespace orv::models

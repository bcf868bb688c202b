#include "models/matrix_market.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string_view>

#include <sys/stat.h>

namespace orv::models {

namespace {

// Long lines are cut in messages; the line number says where the rest is. Control bytes are
// shown as '?' so that a damaged file cannot garble the terminal.
std::string quoted(std::string_view text) {
  constexpr std::size_t kShown = 60;
  std::string s(text.substr(0, kShown));
  for (char& c : s) {
    if (std::iscntrl(static_cast<unsigned char>(c))) c = '?';
  }
  if (text.size() > kShown) s += "...";
  return "'" + s + "'";
}

// A NUL or a control byte other than white space: the file is not text.
bool binary(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return c == '\0' || (std::iscntrl(static_cast<unsigned char>(c)) &&
                         !std::isspace(static_cast<unsigned char>(c)));
  });
}

std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const std::size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool parseInteger(std::string_view text, std::int64_t& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

enum class RealText { Number, NotNumber, TooLarge };

// Values below the smallest subnormal number read as zero (or the nearest subnormal), as strtod
// gives them; values beyond the largest double are refused rather than read as infinity.
RealText parseReal(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size()) return RealText::NotNumber;
  if (ec == std::errc::result_out_of_range) {
    value = std::strtod(std::string(text).c_str(), nullptr);
    return std::isinf(value) ? RealText::TooLarge : RealText::Number;
  }
  return ec == std::errc() ? RealText::Number : RealText::NotNumber;
}

std::string article(bool array) { return array ? "an array" : "a coordinate"; }

struct Header {
  bool array = false;
  MatrixMarketField field = MatrixMarketField::Real;
  MatrixMarketSymmetry symmetry = MatrixMarketSymmetry::General;
};

class Reader {
 public:
  Reader(std::istream& in, const std::string& name) : in_(in), name_(name) {}

  [[noreturn]] void fail(int line, const std::string& what) const {
    throw MatrixMarketError(name_ + ":" + std::to_string(line) + ": " + what);
  }

  int line() const { return line_; }

  // The next line that is neither blank nor a comment; false at the end of the file.
  bool nextContent(std::string& text) {
    while (std::getline(in_, text)) {
      ++line_;
      if (binary(text)) fail(line_, "not a text file (it holds control bytes)");
      const std::vector<std::string_view> t = tokens(text);
      if (!t.empty() && t.front().front() != '%') return true;
    }
    if (in_.bad()) fail(line_ + 1, "read error");
    return false;
  }

  Header header() {
    std::string text;
    if (!std::getline(in_, text)) {
      fail(1,
           "empty file, expected the banner '%%MatrixMarket matrix <format> <field> <symmetry>'");
    }
    line_ = 1;
    if (binary(text)) {
      fail(1, "not a text file (it holds control bytes), expected a Matrix Market file");
    }
    const std::vector<std::string_view> t = tokens(text);
    if (t.size() != 5 || t[0] != "%%MatrixMarket") {
      fail(1, "bad banner " + quoted(text) +
                  ", expected '%%MatrixMarket matrix <format> <field> <symmetry>'");
    }
    const std::string object = lowered(t[1]);
    const std::string format = lowered(t[2]);
    const std::string field = lowered(t[3]);
    const std::string symmetry = lowered(t[4]);
    if (object != "matrix") fail(1, "unsupported object '" + object + "', only 'matrix' is read");
    Header h;
    if (format == "array") {
      h.array = true;
    } else if (format != "coordinate") {
      fail(1, "unsupported format '" + format + "', expected 'coordinate' or 'array'");
    }
    if (field == "real" || field == "double") {
      h.field = MatrixMarketField::Real;
    } else if (field == "integer") {
      h.field = MatrixMarketField::Integer;
    } else if (field == "pattern" && !h.array) {
      h.field = MatrixMarketField::Pattern;
    } else {
      fail(1, "unsupported field '" + field + "' for " + article(h.array) + " file");
    }
    if (symmetry == "symmetric" && !h.array) {
      h.symmetry = MatrixMarketSymmetry::Symmetric;
    } else if (symmetry == "general") {
      h.symmetry = MatrixMarketSymmetry::General;
    } else {
      fail(1, "unsupported symmetry '" + symmetry + "' for " + article(h.array) + " file");
    }
    return h;
  }

  // The size line: count integers, each within 0..INT_MAX (entries may be larger).
  std::vector<std::int64_t> sizeLine(std::size_t count, const char* expected) {
    std::string text;
    if (!nextContent(text)) fail(line_ + 1, std::string("missing size line '") + expected + "'");
    const std::vector<std::string_view> t = tokens(text);
    std::vector<std::int64_t> values(count);
    bool ok = t.size() == count;
    for (std::size_t i = 0; ok && i < count; ++i)
      ok = parseInteger(t[i], values[i]) && values[i] >= 0;
    if (!ok) fail(line_, "bad size line " + quoted(text) + ", expected '" + expected + "'");
    if (values[0] > std::numeric_limits<int>::max() ||
        values[1] > std::numeric_limits<int>::max()) {
      fail(line_, "dimensions " + quoted(text) + " too large for 32-bit indices");
    }
    return values;
  }

  double value(std::string_view text, MatrixMarketField field) const {
    if (field == MatrixMarketField::Integer) {
      std::int64_t v = 0;
      if (!parseInteger(text, v)) fail(line_, "value " + quoted(text) + " is not an integer");
      return static_cast<double>(v);
    }
    double v = 0.0;
    const RealText kind = parseReal(text, v);
    if (kind == RealText::TooLarge) {
      fail(line_, "value " + quoted(text) + " is too large for a double (at most 1.8e308)");
    }
    if (kind != RealText::Number) fail(line_, "value " + quoted(text) + " is not a number");
    if (!std::isfinite(v)) fail(line_, "value " + quoted(text) + " is not a finite number");
    return v;
  }

  int index(std::string_view text, int limit, const char* what) const {
    std::int64_t v = 0;
    if (!parseInteger(text, v))
      fail(line_, std::string(what) + " index " + quoted(text) + " is not an integer");
    if (v < 1 || v > limit) {
      fail(line_, std::string(what) + " index " + std::string(text) + " outside 1.." +
                      std::to_string(limit));
    }
    return static_cast<int>(v - 1);
  }

 private:
  std::istream& in_;
  const std::string& name_;
  int line_ = 0;
};

CoordinateMatrix readCoordinateBody(Reader& reader, const Header& h) {
  CoordinateMatrix m;
  m.field = h.field;
  m.symmetry = h.symmetry;
  const std::vector<std::int64_t> size = reader.sizeLine(3, "rows columns entries");
  m.rows = static_cast<int>(size[0]);
  m.cols = static_cast<int>(size[1]);
  m.sizeLine = reader.line();
  const std::int64_t declared = size[2];
  if (m.symmetry == MatrixMarketSymmetry::Symmetric && m.rows != m.cols) {
    reader.fail(m.sizeLine, "matrix is not square (" + std::to_string(m.rows) + " x " +
                                std::to_string(m.cols) + ") but declared symmetric");
  }
  // The declared count is not trusted for the reservation: a damaged size line must not exhaust
  // memory before the entries prove it wrong.
  const std::size_t reserve = static_cast<std::size_t>(std::min<std::int64_t>(declared, 1 << 22));
  m.entries.reserve(reserve);
  m.lines.reserve(reserve);
  const bool pattern = h.field == MatrixMarketField::Pattern;
  const std::size_t fields = pattern ? 2 : 3;
  std::string text;
  std::int64_t found = 0;
  while (reader.nextContent(text)) {
    if (found == declared) {
      reader.fail(reader.line(), "more entries than the " + std::to_string(declared) + " declared");
    }
    const std::vector<std::string_view> t = tokens(text);
    if (t.size() != fields) {
      reader.fail(reader.line(), "bad entry " + quoted(text) + ", expected '" +
                                     (pattern ? "row column" : "row column value") + "'");
    }
    const int row = reader.index(t[0], m.rows, "row");
    const int col = reader.index(t[1], m.cols, "column");
    const double value = pattern ? 1.0 : reader.value(t[2], h.field);
    if (m.symmetry == MatrixMarketSymmetry::Symmetric && row < col) {
      reader.fail(reader.line(), "entry (" + std::to_string(row + 1) + ", " +
                                     std::to_string(col + 1) +
                                     ") above the diagonal of a symmetric file");
    }
    m.entries.push_back({row, col, value});
    m.lines.push_back(reader.line());
    ++found;
  }
  if (found != declared) {
    reader.fail(reader.line() + 1, "end of file after " + std::to_string(found) + " of the " +
                                       std::to_string(declared) + " declared entries");
  }
  return m;
}

DenseArray readArrayBody(Reader& reader, const Header& h) {
  DenseArray a;
  const std::vector<std::int64_t> size = reader.sizeLine(2, "rows columns");
  a.rows = static_cast<int>(size[0]);
  a.cols = static_cast<int>(size[1]);
  a.sizeLine = reader.line();
  const std::int64_t declared = size[0] * size[1];
  a.values.reserve(static_cast<std::size_t>(std::min<std::int64_t>(declared, 1 << 22)));
  std::string text;
  std::int64_t found = 0;
  while (reader.nextContent(text)) {
    if (found == declared) {
      reader.fail(reader.line(), "more values than the " + std::to_string(declared) + " declared");
    }
    const std::vector<std::string_view> t = tokens(text);
    if (t.size() != 1)
      reader.fail(reader.line(), "bad entry " + quoted(text) + ", expected one value");
    a.values.push_back(reader.value(t[0], h.field));
    ++found;
  }
  if (found != declared) {
    reader.fail(reader.line() + 1, "end of file after " + std::to_string(found) + " of the " +
                                       std::to_string(declared) + " declared values");
  }
  return a;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForWriting(const std::string& path) {
  File f(std::fopen(path.c_str(), "w"));
  if (!f) {
    throw MatrixMarketError(path + ": cannot open file for writing: " + std::strerror(errno));
  }
  return f;
}

void writeComment(std::FILE* f, const std::string& comment) {
  std::size_t start = 0;
  while (start < comment.size()) {
    std::size_t end = comment.find('\n', start);
    if (end == std::string::npos) end = comment.size();
    std::fprintf(f, "%%%s\n", comment.substr(start, end - start).c_str());
    start = end + 1;
  }
}

// fclose reports errors of the last buffered writes, so it is checked here rather than left to the
// owner.
void finish(File f, const std::string& path) {
  const bool failed = std::ferror(f.get()) != 0;
  const int error = errno;
  if (std::fclose(f.release()) != 0 || failed) {
    throw MatrixMarketError(path + ": write failed: " + std::strerror(failed ? error : errno));
  }
}

}  // namespace

std::ifstream openForReading(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    throw MatrixMarketError(path + ": cannot open file: " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) throw MatrixMarketError(path + ": is a directory, not a file");
  // A device such as /dev/zero never ends a line.
  if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
    throw MatrixMarketError(path + ": is a device, not a file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw MatrixMarketError(path + ": cannot open file: " + std::strerror(errno));
  return in;
}

CoordinateMatrix readCoordinate(std::istream& in, const std::string& name) {
  Reader reader(in, name);
  const Header h = reader.header();
  if (h.array) reader.fail(1, "expected a coordinate file, found " + article(true) + " file");
  return readCoordinateBody(reader, h);
}

CoordinateMatrix readCoordinate(const std::string& path) {
  std::ifstream in = openForReading(path);
  return readCoordinate(in, path);
}

DenseArray readArray(std::istream& in, const std::string& name) {
  Reader reader(in, name);
  const Header h = reader.header();
  if (!h.array) reader.fail(1, "expected an array file, found " + article(false) + " file");
  return readArrayBody(reader, h);
}

DenseArray readArray(const std::string& path) {
  std::ifstream in = openForReading(path);
  return readArray(in, path);
}

std::optional<AsymmetricEntry> findAsymmetry(const CoordinateMatrix& m, double tolerance) {
  if (m.symmetry == MatrixMarketSymmetry::Symmetric) return std::nullopt;
  struct Position {
    int row;
    int col;
    double value;
    int line;
  };
  std::vector<Position> summed;
  summed.reserve(m.entries.size());
  for (std::size_t k = 0; k < m.entries.size(); ++k) {
    const Triplet& t = m.entries[k];
    summed.push_back({t.row, t.col, t.value, k < m.lines.size() ? m.lines[k] : 0});
  }
  const auto before = [](const Position& a, const Position& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  };
  std::stable_sort(summed.begin(), summed.end(), before);
  std::vector<Position> unique;
  for (const Position& p : summed) {
    if (!unique.empty() && unique.back().row == p.row && unique.back().col == p.col) {
      unique.back().value += p.value;
    } else {
      unique.push_back(p);
    }
  }
  std::optional<AsymmetricEntry> first;
  for (const Position& p : unique) {
    if (p.row == p.col) continue;
    const Position key{p.col, p.row, 0.0, 0};
    const auto it = std::lower_bound(unique.begin(), unique.end(), key, before);
    const double mirror =
        (it != unique.end() && it->row == p.col && it->col == p.row) ? it->value : 0.0;
    const double scale = std::max(std::fabs(p.value), std::fabs(mirror));
    if (!(std::fabs(p.value - mirror) <= tolerance * scale)) {
      if (!first || p.line < first->line)
        first = AsymmetricEntry{p.row, p.col, p.value, mirror, p.line};
    }
  }
  return first;
}

SymmetricMatrix readSymmetric(std::istream& in, const std::string& name) {
  CoordinateMatrix m = readCoordinate(in, name);
  const auto where = [&name](int line) { return name + ":" + std::to_string(line) + ": "; };
  if (m.rows != m.cols) {
    throw MatrixMarketError(where(m.sizeLine) + "matrix is not square (" + std::to_string(m.rows) +
                            " x " + std::to_string(m.cols) + ")");
  }
  SymmetricMatrix s;
  s.n = m.rows;
  s.sizeLine = m.sizeLine;
  if (m.symmetry == MatrixMarketSymmetry::Symmetric) {
    s.lower = std::move(m.entries);
    return s;
  }
  if (const std::optional<AsymmetricEntry> a = findAsymmetry(m)) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "matrix is not symmetric: entry (%d, %d) = %.17g but (%d, %d) = %.17g",
                  a->row + 1, a->col + 1, a->value, a->col + 1, a->row + 1, a->mirrorValue);
    throw MatrixMarketError(where(a->line) + text);
  }
  for (const Triplet& t : m.entries) {
    if (t.row >= t.col) s.lower.push_back(t);
  }
  return s;
}

SymmetricMatrix readSymmetric(const std::string& path) {
  std::ifstream in = openForReading(path);
  return readSymmetric(in, path);
}

void writeSymmetric(const std::string& path, int n, std::span<const Triplet> lower,
                    const std::string& comment) {
  if (n < 0) throw std::invalid_argument("writeSymmetric: negative dimension");
  for (const Triplet& t : lower) {
    if (t.col < 0 || t.row < t.col || t.row >= n) {
      throw std::invalid_argument("writeSymmetric: entry (" + std::to_string(t.row) + ", " +
                                  std::to_string(t.col) + ") not in the lower triangle of order " +
                                  std::to_string(n));
    }
  }
  File f = openForWriting(path);
  std::fprintf(f.get(), "%%%%MatrixMarket matrix coordinate real symmetric\n");
  writeComment(f.get(), comment);
  std::fprintf(f.get(), "%d %d %zu\n", n, n, lower.size());
  for (const Triplet& t : lower)
    std::fprintf(f.get(), "%d %d %.17g\n", t.row + 1, t.col + 1, t.value);
  finish(std::move(f), path);
}

void writeArray(const std::string& path, int rows, int cols, std::span<const double> values,
                const std::string& comment) {
  if (rows < 0 || cols < 0 ||
      values.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols)) {
    throw std::invalid_argument("writeArray: value count differs from rows x columns");
  }
  File f = openForWriting(path);
  std::fprintf(f.get(), "%%%%MatrixMarket matrix array real general\n");
  writeComment(f.get(), comment);
  std::fprintf(f.get(), "%d %d\n", rows, cols);
  for (double v : values) std::fprintf(f.get(), "%.17g\n", v);
  finish(std::move(f), path);
}

}  // namespace orv::models

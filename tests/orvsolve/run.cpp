#include "run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <sstream>
#include <stdexcept>

#include "test_support.h"

extern char** environ;

extern "C" void dsygvd_(const int* itype, const char* jobz, const char* uplo, const int* n,
                        double* a, const int* lda, double* b, const int* ldb, double* w,
                        double* work, const int* lwork, int* iwork, const int* liwork, int* info);
extern "C" void dposv_(const char* uplo, const int* n, const int* nrhs, double* a, const int* lda,
                       double* b, const int* ldb, int* info);

namespace orv::test {

namespace {

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

Outcome runOrvsolve(const std::vector<std::string>& args, const std::string& workDir) {
  const ScratchFile out("stdout.txt");
  const std::string errPath = out.folder() + "/stderr.txt";
  FileActions actions;
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(actions.get(), workDir.c_str());
  posix_spawn_file_actions_addopen(actions.get(), 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(actions.get(), 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> words = {ORVSOLVE_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, ORVSOLVE_PATH, actions.get(), nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " ORVSOLVE_PATH);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Outcome run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  run.out = readFile(out.path());
  run.err = readFile(errPath);
  return run;
}

std::vector<double> denseSymmetric(int n, const std::vector<models::Triplet>& lower) {
  const auto size = static_cast<std::size_t>(n);
  std::vector<double> a(size * size, 0.0);
  for (const models::Triplet& t : lower) {
    a[t.row + t.col * size] += t.value;
    if (t.row != t.col) a[t.col + t.row * size] += t.value;
  }
  return a;
}

std::vector<double> multiplySymmetric(int n, const std::vector<models::Triplet>& lower,
                                      const std::vector<double>& x) {
  std::vector<double> y(static_cast<std::size_t>(n), 0.0);
  for (const models::Triplet& t : lower) {
    y[t.row] += t.value * x[t.col];
    if (t.row != t.col) y[t.col] += t.value * x[t.row];
  }
  return y;
}

DenseEigen generalizedEigen(std::vector<double> k, std::vector<double> m, int n, bool vectors) {
  const int itype = 1;
  const char* job = vectors ? "V" : "N";
  std::vector<double> w(static_cast<std::size_t>(n));
  double workSize = 0.0;
  int iworkSize = 0;
  int query = -1;
  int info = 0;
  dsygvd_(&itype, job, "L", &n, k.data(), &n, m.data(), &n, w.data(), &workSize, &query, &iworkSize,
          &query, &info);
  int lwork = static_cast<int>(workSize);
  int liwork = iworkSize;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  std::vector<int> iwork(static_cast<std::size_t>(liwork));
  dsygvd_(&itype, job, "L", &n, k.data(), &n, m.data(), &n, w.data(), work.data(), &lwork,
          iwork.data(), &liwork, &info);
  if (info != 0) throw std::runtime_error("dsygvd failed, info " + std::to_string(info));
  DenseEigen result{std::move(w), {}};
  if (vectors) result.vectors = std::move(k);
  return result;
}

std::vector<double> solveDense(std::vector<double> k, int n, std::vector<double> b) {
  const int nrhs = static_cast<int>(b.size() / static_cast<std::size_t>(n));
  int info = 0;
  dposv_("L", &n, &nrhs, k.data(), &n, b.data(), &n, &info);
  if (info != 0) throw std::runtime_error("dposv failed, info " + std::to_string(info));
  return b;
}

std::vector<std::vector<double>> tableAfter(const std::string& text, const std::string& header) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  bool inTable = false;
  while (std::getline(in, line)) {
    if (!inTable) {
      inTable = line.find(header) != std::string::npos;
      continue;
    }
    std::istringstream words(line);
    std::vector<double> row;
    std::string word;
    while (words >> word) {
      try {
        std::size_t used = 0;
        const double v = std::stod(word, &used);
        if (used != word.size()) break;
        row.push_back(v);
      } catch (const std::exception&) {
        break;
      }
    }
    if (row.empty()) break;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace orv::test

/*
 * A complete host of ORVSparseSolver in plain C: a chain of 5 equal masses joined by 5 equal
 * springs, the first spring tied to the ground.
 *
 *   ground --k-- m --k-- m --k-- m --k-- m --k-- m (tip)
 *
 * It assembles the stiffness matrix A from the element matrices of the springs and the mass
 * matrix B from the lumped masses, factorises A with checks, solves three load cases at once,
 * finds the three lowest modes and combines their peak responses to a flat response spectrum
 * by SRSS and by CQC. Every failure is reported with the library's text.
 *
 * Build against an installed package:
 *   cc -std=c11 host_example.c $(pkg-config --cflags --libs ORVSparseSolver) \
 *      -Wl,-rpath,$(pkg-config --variable=libdir ORVSparseSolver) -lm
 * Run: ./a.out [log file]   (without a log file name the library logs nothing)
 *
 * Known answers, with k = 1000, m = 1 and loads of 10:
 *   - a load at the tip: every spring carries it, u_i = 10 (i + 1) / k;
 *   - a load at every mass: spring j carries 10 (5 - j), so u = 0.05, 0.09, 0.12, 0.14, 0.15;
 *   - a load at the first mass: only the first spring stretches, u_i = 10 / k;
 *   - mode r: omega_r = 2 sqrt(k / m) sin((2r - 1) pi / 22), mass-normalised shape
 *     phi_r(i) = 2 / sqrt(11 m) sin((2r - 1) pi (i + 1) / 11).
 */
#include <ORVSparseSolver/exports.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

enum { kNodes = 5, kLoadCases = 3, kModes = 3, kQuantities = 24 };

static const double kStiffness = 1000.0;
static const double kMass = 1.0;
static const double kLoad = 10.0;
/* The spectral acceleration of every mode (a flat design spectrum) and the damping ratio
   common to all modes. */
static const double kSpectralAcceleration = 2.0;
static const float kDampingRatio = 0.05f;

/* Prints what went wrong, in the library's words, and tells whether it did. */
static int failed(symRealSPDMatrixLinSys* system, int32_t status, const char* what) {
  BSTR text;
  if (status == 0) return 0;
  text = exp_getLastError_v3(system);
  fprintf(stderr, "%s failed: %.*s\n", what, text != NULL ? (int)SysStringByteLen(text) : 0,
          text != NULL ? text : "");
  SysFreeString(text);
  return 1;
}

/* Adds a symmetric element matrix (size x size, row-major) to matrix whichMatrix. dof[a] is the
   equation of the element's degree of freedom a, or -1 for a restrained one. Only the lower
   triangle of the assembled matrix is given: the library reads every entry as itself and its
   symmetric pair, so giving both halves would count each off-diagonal term twice. */
static int scatter(symRealSPDMatrixLinSys* system, int size, const double* element, const int* dof,
                   int32_t whichMatrix) {
  int a, b;
  for (a = 0; a < size; ++a) {
    for (b = 0; b < size; ++b) {
      const int row = dof[a], column = dof[b];
      if (row < 0 || column < 0 || row < column) continue;
      if (failed(system,
                 exp_incrMatrixElem_v3(system, row, column, element[a * size + b], whichMatrix),
                 "exp_incrMatrixElem_v3")) {
        return 1;
      }
    }
  }
  return 0;
}

/* A first: initialising A releases B. The first call creates the object. */
static int initMatrices(symRealSPDMatrixLinSys** system) {
  int32_t status = exp_initMatrix_v3(system, kNodes, 0);
  if (failed(*system, status, "exp_initMatrix_v3 (A)")) return 1;
  status = exp_initMatrix_v3(system, kNodes, 1);
  return failed(*system, status, "exp_initMatrix_v3 (B)");
}

static int assemble(symRealSPDMatrixLinSys* system) {
  const double spring[4] = {kStiffness, -kStiffness, -kStiffness, kStiffness};
  int i;
  for (i = 0; i < kNodes; ++i) {
    const int ends[2] = {i - 1, i}; /* spring i joins node i - 1 (the ground for i = 0) to i */
    if (scatter(system, 2, spring, ends, 0) || scatter(system, 1, &kMass, &ends[1], 1)) return 1;
  }
  return failed(system, exp_createCCS_v3(system, 0), "exp_createCCS_v3 (A)") ||
         failed(system, exp_createCCS_v3(system, 1), "exp_createCCS_v3 (B)");
}

/* The condition estimate runs by default; the residual check of every solution is turned on. */
static int factorWithChecks(symRealSPDMatrixLinSys* system) {
  int32_t enable = 1, refinements = 2;
  double residualLog10Limit = -10.0;
  return failed(system,
                exp_checksSettings_v3(system, &enable, &residualLog10Limit, &refinements, 16),
                "exp_checksSettings_v3") ||
         failed(system, exp_factor_v3(system, "metis_node"), "exp_factor_v3");
}

/* Three load cases in one block of kNodes rows by kLoadCases columns, column-major. */
static int solveLoadCases(symRealSPDMatrixLinSys* system) {
  double loads[kNodes * kLoadCases] = {0.0};
  double displacements[kNodes * kLoadCases];
  SAFEARRAY2D loadBlock, displacementBlock;
  SAFEARRAY* rhs = orvMatrixDescriptor(&loadBlock, loads, kNodes, kLoadCases);
  SAFEARRAY* x = orvMatrixDescriptor(&displacementBlock, displacements, kNodes, kLoadCases);
  int i, c;
  loads[(kNodes - 1) + 0 * kNodes] = kLoad;
  for (i = 0; i < kNodes; ++i) loads[i + 1 * kNodes] = kLoad;
  loads[0 + 2 * kNodes] = kLoad;
  if (failed(system, exp_solve_v3(system, &x, &rhs), "exp_solve_v3")) return 1;
  for (c = 0; c < kLoadCases; ++c) {
    printf("load case %d: u =", c + 1);
    for (i = 0; i < kNodes; ++i) printf(" %.6f", displacements[i + c * kNodes]);
    printf("\n");
  }
  return 0;
}

/* The lowest modes: circular frequencies and mass-normalised shapes, first entry positive. */
static int findModes(symRealSPDMatrixLinSys* system, double omega[kModes],
                     double shapes[kNodes * kModes]) {
  double lambda[kModes];
  SAFEARRAY eigBlock;
  SAFEARRAY2D eivBlock;
  SAFEARRAY* eig = orvVectorDescriptor(&eigBlock, lambda, kModes);
  SAFEARRAY* eiv = orvMatrixDescriptor(&eivBlock, shapes, kNodes, kModes);
  int32_t found = 0;
  int r, i;
  if (failed(system, exp_eigenSystem_v3(system, kModes, &eig, &eiv, &found),
             "exp_eigenSystem_v3")) {
    return 1;
  }
  if (found < kModes) {
    fprintf(stderr, "exp_eigenSystem_v3: %d modes requested, %d found\n", kModes, (int)found);
    return 1;
  }
  for (r = 0; r < kModes; ++r) {
    double* shape = shapes + r * kNodes;
    /* The library scales x' A x = 1, so x' B x = 1 / lambda. */
    const double scale = (shape[0] < 0.0 ? -1.0 : 1.0) * sqrt(lambda[r]);
    omega[r] = sqrt(lambda[r]);
    printf("mode %d: omega = %.6f rad/s, T = %.4f s, shape =", r + 1, omega[r],
           2.0 * acos(-1.0) / omega[r]);
    for (i = 0; i < kNodes; ++i) {
      shape[i] *= scale;
      printf(" %.6f", shape[i]);
    }
    printf("\n");
  }
  return 0;
}

/* Peak responses of every mode to the spectrum: quantities 0..4 the displacements of the
   nodes, 5..9 the forces of the springs (5 is the base shear); the others stay 0. */
static void modalResponses(const double omega[kModes], const double shapes[kNodes * kModes],
                           float responses[kModes * kQuantities]) {
  int r, i;
  memset(responses, 0, sizeof(float) * kModes * kQuantities);
  for (r = 0; r < kModes; ++r) {
    const double* shape = shapes + r * kNodes;
    float* block = responses + r * kQuantities;
    double participation = 0.0, below = 0.0;
    for (i = 0; i < kNodes; ++i) participation += kMass * shape[i];
    for (i = 0; i < kNodes; ++i) {
      const double u = participation * shape[i] * kSpectralAcceleration / (omega[r] * omega[r]);
      block[i] = (float)u;
      block[kNodes + i] = (float)(kStiffness * (u - below));
      below = u;
    }
  }
}

/* Combines the modal responses by rule kind (1 SRSS, 2 CQC) and prints two of them. */
static int combine(int32_t kind, const char* name, const double omega[kModes],
                   const float* responses) {
  _Alignas(16) float peak[kQuantities];
  float frequencies[kModes];
  void* rule = NULL;
  int r, status;
  for (r = 0; r < kModes; ++r) frequencies[r] = (float)omega[r]; /* omega, f or T; not lambda */
  if (exp_mediaSismica_init_v3(&rule, kind, kModes, frequencies, kDampingRatio) != 0) {
    fprintf(stderr, "exp_mediaSismica_init_v3 failed for %s\n", name);
    return 1;
  }
  /* SRSS adds onto what peak holds (CQC overwrites it): start from zero. */
  memset(peak, 0, sizeof peak);
  status = exp_mediaSismica_calc24_v3(rule, responses, peak);
  exp_mediaSismica_free_v3(&rule);
  if (status != 0) {
    fprintf(stderr, "exp_mediaSismica_calc24_v3 failed for %s\n", name);
    return 1;
  }
  printf("%s: tip displacement = %.4g, base shear = %.4g\n", name, peak[kNodes - 1], peak[kNodes]);
  return 0;
}

int main(int argc, char** argv) {
  symRealSPDMatrixLinSys* system = NULL;
  double omega[kModes], shapes[kNodes * kModes];
  _Alignas(16) float responses[kModes * kQuantities];
  int status;
  if (argc > 1 && failed(NULL, exp_logDestination_v3(NULL, argv[1]), "exp_logDestination_v3")) {
    return 1;
  }
  status = initMatrices(&system) || assemble(system) || factorWithChecks(system) ||
           solveLoadCases(system) || findModes(system, omega, shapes);
  if (status == 0) {
    modalResponses(omega, shapes, responses);
    status = combine(1, "SRSS", omega, responses) || combine(2, "CQC", omega, responses);
  }
  exp_deleteMatrix_v3(&system);
  return status;
}

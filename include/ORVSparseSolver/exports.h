/*
 * ORVSparseSolver: sparse symmetric positive-definite linear systems, their smallest
 * generalised eigenpairs, a dense packed eigen-solver and seismic modal combination.
 *
 * Plain C interface of libORVSparseSolverDLL3. Every function is safe to call from C or C++.
 *
 * Conventions shared by the matrix exports
 *  - A matrix handle is the address of a linear-system object. exp_initMatrix_v3 and
 *    exp_deleteMatrix_v3 take the address of the host's handle variable; every other matrix
 *    export takes its value. A null handle makes an export fail with -1; the text then reads
 *    "symRealSPDMatrixLinSys not allocated".
 *  - whichMatrix 0 selects the stiffness matrix A, any other value the second matrix B.
 *  - Indices are 0-based. Only the lower triangle (row >= column) is meant to be supplied; an
 *    entry given above the diagonal is kept as given and read as its symmetric pair, so a host
 *    that scatters a full element matrix counts every off-diagonal term twice. Scatter, of
 *    each element matrix, only the entries whose global row is >= their global column.
 *  - Results are 0 on success and -1 on failure. After a failure exp_getLastError_v3 returns
 *    the text; each failure is also logged as "ERROR: <text>".
 *  - No C++ exception, hardware fault (access violation, illegal instruction, arithmetic trap)
 *    or floating-point trap crosses this interface: a fault inside an export is reported as -1
 *    with the text "CException n. <code>" (Windows code in upper-case hexadecimal, for
 *    instance C0000005 for an access violation). The exports marked "guarded" mask all
 *    floating-point traps while they run and clear the pending flags on return. In the others
 *    an exception whose trap the caller enabled makes the export fail as the trap would have,
 *    with the code of the exception (C0000091 for an overflow), once its work is done. After
 *    every call, a failed one included, the caller's floating-point control state (masks,
 *    rounding, precision, flush-to-zero, denormals-are-zero) is exactly what it was, no lock
 *    is held and nothing is leaked: the arrays and texts the host passes are read (or probed)
 *    before an export takes a lock or allocates, so that a bad pointer faults there.
 *  - Matrices are not shared between threads: one caller at a time per handle.
 *  - Logging is off until exp_logDestination_v3 names a file; exp_deleteMatrix_v3 turns it off
 *    again.
 *
 * Calling order of a host
 *   1. exp_initMatrix_v3(&handle, n, 0)      A, the stiffness matrix (creates the object)
 *   2. exp_initMatrix_v3(&handle, n, 1)      B, the mass matrix, only for eigenpairs; after A,
 *                                            since initialising A releases B
 *   3. exp_incrMatrixElem_v3(...)            the lower triangle of every element, A and B
 *   4. exp_createCCS_v3(handle, 0), (.., 1)  both matrices converted
 *   5. exp_checksSettings_v3(...)            optional: the checks the factorisation and the
 *                                            solution run (defaults below)
 *   6. exp_factor_v3(handle, "metis_node")   optional: exp_solve_v3 and exp_eigenSystem_v3
 *                                            factorise A when needed
 *   7. exp_solve_v3(...)                     any number of blocks of load cases
 *   8. exp_eigenSystem_v3(...)
 *   9. exp_deleteMatrix_v3(&handle)
 * A matrix export that returns -1 leaves its reason for exp_getLastError_v3, except where its
 * description below says otherwise.
 *
 * Arrays of doubles that the host passes whole (exp_solve_v3, exp_eigenSystem_v3) come as a
 * pointer to a SAFEARRAY descriptor pointer. Only cDims, pvData and rgsabound[k].cElements are
 * read. For two dimensions rgsabound[0] counts the columns and rgsabound[1] the rows, and the
 * data are column-major: element (r, c) is pvData[r + c * rows]. The declared SAFEARRAY has room
 * for one bound only: a two-dimensional descriptor is a SAFEARRAY2D, filled by
 * orvMatrixDescriptor (orvVectorDescriptor fills a one-dimensional one).
 */
#ifndef ORVSPARSESOLVER_EXPORTS_H
#define ORVSPARSESOLVER_EXPORTS_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(ORV_BUILDING_LIBRARY)
#define ORV_API __declspec(dllexport)
#else
#define ORV_API __declspec(dllimport)
#endif
#else
#define ORV_API __attribute__((visibility("default")))
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define ORV_CALL __stdcall
#else
#define ORV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Platform stand-ins (declared by the OLE headers on Windows) ---- */
#if !defined(_WIN32)
typedef struct tagSAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1]; /* cDims records in memory */
} SAFEARRAY;

/* Length-prefixed byte string: the uint32_t byte count sits in the four bytes before the text,
   two NUL bytes follow it. */
typedef char* BSTR;

/* A new BSTR holding len bytes copied from text (or len zero bytes when text is null);
   null when memory is exhausted. */
ORV_API BSTR ORV_CALL SysAllocStringByteLen(const char* text, uint32_t len);
/* The byte length of s; 0 for a null s. */
ORV_API uint32_t ORV_CALL SysStringByteLen(BSTR s);
/* Releases s; does nothing for a null s. */
ORV_API void ORV_CALL SysFreeString(BSTR s);
#endif

/* A descriptor with room for the two bounds of a matrix: the first fields are those of
   SAFEARRAY, so its address, cast to SAFEARRAY*, is what the exports take. */
typedef struct tagSAFEARRAY2D {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[2];
} SAFEARRAY2D;

/* Fills *d to describe the rows x columns doubles at data, column-major (element (r, c) at
   data[r + c * rows]); returns the pointer the exports take. */
static inline SAFEARRAY* orvMatrixDescriptor(SAFEARRAY2D* d, double* data, uint32_t rows,
                                             uint32_t columns) {
  d->cDims = 2;
  d->fFeatures = 0;
  d->cbElements = sizeof(double);
  d->cLocks = 0;
  d->pvData = data;
  d->rgsabound[0].cElements = columns; /* the last index first */
  d->rgsabound[0].lLbound = 0;
  d->rgsabound[1].cElements = rows;
  d->rgsabound[1].lLbound = 0;
#ifdef __cplusplus
  return reinterpret_cast<SAFEARRAY*>(d);
#else
  return (SAFEARRAY*)(void*)d;
#endif
}

/* Fills *d to describe the count doubles at data; returns d. */
static inline SAFEARRAY* orvVectorDescriptor(SAFEARRAY* d, double* data, uint32_t count) {
  d->cDims = 1;
  d->fFeatures = 0;
  d->cbElements = sizeof(double);
  d->cLocks = 0;
  d->pvData = data;
  d->rgsabound[0].cElements = count;
  d->rgsabound[0].lLbound = 0;
  return d;
}

/* Opaque linear-system object behind a matrix handle. */
typedef struct symRealSPDMatrixLinSys symRealSPDMatrixLinSys;

/* ---- Linear system: life cycle, log and errors ---- */

/* exp_initMatrix_v3: creates the object when *handle is null and stores its address there, then
   initialises matrix A (whichMatrix 0) or B (otherwise) to dimension n.
   - Initialising discards everything the matrix held (records, compressed-column record,
     ordering, factor, cached values) and starts its "Matrix assembly" phase; initialising A
     also releases B, so B is initialised again after A.
   - n <= 0 leaves the matrix empty, without error.
   - Fails with "Cannot initialise B with different size than A" when n differs from A's
     dimension; B keeps what it had and a newly created object stays in *handle.
   - Fails with "Out of memory" when room for 10 n records (A) or 3 n records (B) cannot be
     reserved; the matrix is left empty and the object usable.
   - A null handle pointer, or an object that cannot be created, fails with the process-wide
     text "symRealSPDMatrixLinSys not allocated" and leaves *handle as it was. */
ORV_API int32_t ORV_CALL exp_initMatrix_v3(symRealSPDMatrixLinSys** handle, int32_t n,
                                           int32_t whichMatrix);

/* exp_deleteMatrix_v3: releases A then B (logging "A: All memory released" and
   "B: All memory released" for each that had a dimension), destroys the object in *handle, turns
   the process-wide log off for every object, and sets *handle to 0. A handle variable holding 0,
   or a null handle pointer, does nothing. A fault on the way (a handle pointer or handle that is
   not one) is absorbed: *handle is 0 if it could be written and the process-wide text reads
   "symRealSPDMatrixLinSys not allocated". */
ORV_API void ORV_CALL exp_deleteMatrix_v3(symRealSPDMatrixLinSys** handle);

/* exp_logDestination_v3: closes the current log (its content stays on disk), then opens fileName
   for writing (created, or truncated when present) and writes the banner
   "Version 3, 0, 0, 0 - RELEASE". Every later log line is flushed when written.
   - An empty name turns logging off and returns 0.
   - A file that cannot be opened gives -1 after "could not open log file <name>, exiting" on
     standard error; logging stays off and no error text is recorded (nothing exits).
   - obj may be null: it is only where an error text would be recorded. A null fileName fails
     with "Log file name is null". */
ORV_API int32_t ORV_CALL exp_logDestination_v3(symRealSPDMatrixLinSys* obj, const char* fileName);

/* exp_getLastError_v3: the last error text of obj, or the process-wide text when obj is null, as
   a new BSTR of its bytes; the caller frees it with SysFreeString. With no error the string is
   empty (length 0), never null; null only when memory is exhausted or when obj is not an
   object's address (a fault reading it, absorbed). The text that was read is
   emptied, and the process-wide text is emptied in every case. A successful call never clears
   a text: an old error stays readable until fetched. */
ORV_API BSTR ORV_CALL exp_getLastError_v3(symRealSPDMatrixLinSys* obj);

/* ---- Assembly ---- */

/* exp_incrMatrixElem_v3, exp_setMatrixElem_v3: one contribution (row, column, value) to matrix A
   (whichMatrix 0) or B.
   - Before conversion both append the record; conversion sums all records of a position, so a
     set adds to what earlier records gave it.
   - After conversion set replaces and incr adds to the stored value of an existing pattern
     position; cached norms, diagonal statistics and (for A) the numeric factor are dropped, the
     ordering and symbolic structure kept. "Element not found" for a position outside the
     pattern, nothing changed.
   - Row and column outside 0..n-1 fail with "Element index out of range", nothing stored.
   - Values are stored as given, NaN and infinities included. */
ORV_API int32_t ORV_CALL exp_incrMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                               int32_t column, double value, int32_t whichMatrix);
ORV_API int32_t ORV_CALL exp_setMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                              int32_t column, double value, int32_t whichMatrix);

/* exp_createCCS_v3: converts the records of A (whichMatrix 0) or B to the compressed-column
   record of the lower triangle, duplicates summed, explicit zeros kept as pattern entries; logs
   "Number of nonzero elements: <distinct positions>". Fails with "Matrix already in CCS form",
   "Matrix is empty" (no record; assembly goes on) or "Memory allocation for ccs matrix failed"
   (records kept, not converted). */
ORV_API int32_t ORV_CALL exp_createCCS_v3(symRealSPDMatrixLinSys* obj, int32_t whichMatrix);

/* ---- Matrix services (need the matrix converted: "Matrix is not assembled" otherwise) ---- */

/* exp_multVector_v3 (guarded): y = M x for the n doubles at x and y (distinct arrays); y is
   overwritten, x unchanged. Null x or y fails with "Vector not allocated". */
ORV_API int32_t ORV_CALL exp_multVector_v3(symRealSPDMatrixLinSys* obj, const double* x, double* y,
                                           int32_t whichMatrix);

/* exp_getMaxDiag_v3 (guarded): the largest diagonal entry of A into *maxDiag (a missing diagonal
   entry counts as 0.0; NaN entries are ignored). The diagonal statistics are computed once per
   set of values, logging "Non positive diagonal element at row %5d = %10.3g (matrix not SPD)" for
   each entry <= 0. With n = 0 the result is minus infinity. Null maxDiag fails with
   "Result pointer is null". */
ORV_API int32_t ORV_CALL exp_getMaxDiag_v3(symRealSPDMatrixLinSys* obj, double* maxDiag);

/* exp_writeMatrix_v3: writes the stored lower triangle of A (whichMatrix 0) or B to fileName:
   the line "n nnz", then one line "i j value" per entry, column by column, rows ascending,
   1-based, value as "%0.17e". A file that cannot be opened gives -1 with the log line
   "Could not open ijv file <name>" and no error text; a null fileName fails with "File name is
   null". */
ORV_API int32_t ORV_CALL exp_writeMatrix_v3(symRealSPDMatrixLinSys* obj, const char* fileName,
                                            int32_t whichMatrix);

/* ---- Factorisation, checks, solution, eigenpairs ---- */

/* exp_factor_v3 (guarded): orders, checks and factorises A, running only what is missing: the
   ordering (once per pattern), the pre-factor checks, the symbolic analysis (once per pattern),
   the numeric factorisation and the post-factor checks. A second call after a success does
   nothing and logs nothing; after an element edit only the checks and the numeric work run.
   orderingMethod: "metis_node" (also "" and null), "metis", "metis_edge", "amdv1_1", "tree",
   "random", "identity"; other names fail with "Optimal ordering calculation failed" after a log
   line. A NaN in A fails like a non-positive pivot. Texts: "Matrix not assembled yet", "Pre-factor
   checks failed.\nMatrix is not SPD or ill conditioned", "Numeric factorization failed" (structure
   kept), "Post-factor checks failed. System is ill conditioned" (numeric values dropped), "T must
   be an integer between 1 and N" (check 8 with more estimator columns than n; the factor is kept),
   "Out of memory" (whichever step ran out: ordering, permutation, symbolic or numeric work). A
   non-positive pivot is logged with its column in the reordered matrix and, on the next line,
   "Non-positive pivot in original column <j>" in the host's 0-based numbering. The pre-factor
   check lists the first 100 rows with a non-positive diagonal element and counts the rest. */
ORV_API int32_t ORV_CALL exp_factor_v3(symRealSPDMatrixLinSys* obj, const char* orderingMethod);

/* exp_solve_v3 (guarded): solves A X = RHS for every column, factorising first when needed. X and
   RHS are both vectors of N doubles (one right-hand side) or both N rows by nrhs columns; RHS is
   never changed. Checked in this order: "X not allocated", "RHS not allocated", "X and RHS
   dimensions not consistent", "X and/or RHS dimensions not equal to N", "X and RHS have different
   number of columns", "X and/or RHS length not equal to N", "X dimensions are not correct".
   Descriptors with columns but null data fail with "X and/or RHS data not allocated".
   nrhs = 0 solves nothing and returns 0. With check 16 on, each column's relative residual is
   logged and failing columns are refined; if one still fails the result is -1 with "Post-factor
   checks failed. System is ill conditioned" and X holds the last refined solution. A column of
   zeros (a load case without load) is solved exactly by x = 0 and passes with error 0. */
ORV_API int32_t ORV_CALL exp_solve_v3(symRealSPDMatrixLinSys* obj, SAFEARRAY** X, SAFEARRAY** RHS);

/* exp_eigenSystem_v3 (guarded): the count smallest eigenvalues of A x = lambda B x, ascending, in
   *eig (null, or one dimension of count doubles) and the eigenvectors in *eiv (null, or N rows by
   count columns, the host's numbering). The eigenvectors are scaled to x_i' A x_j = delta_ij, so
   x_i' B x_i = 1 / lambda_i: multiply x_i by sqrt(lambda_i) for the mass-normalised mode shape
   (x' B x = 1) of structural dynamics. The sign of each eigenvector is arbitrary.
   *found receives the number of valid pairs, only on success; positions from found on are not
   part of the result. The search is capped at the number of diagonal entries of B stored and
   non-zero; count <= 0 finds 0. The first lambda <= 0 or >= 1e12 ends the list. A is factorised
   first when needed and stays factorised. Lanczos iteration serves when count <= 0.15 N, a dense
   search otherwise or when the iteration converges to nothing; the Lanczos start vector is the
   same in every call, so results repeat bit for bit. Texts: "Dimensions of eig are
   incorrect", "Dimensions of eiv are incorrect", "Result pointer is null", "eig data not
   allocated", "eiv data not allocated", "Matrix B is not assembled", "Matrices A and B differ in
   size", the factorisation texts, "Can't calculate eigensystem", "Out of memory". */
ORV_API int32_t ORV_CALL exp_eigenSystem_v3(symRealSPDMatrixLinSys* obj, int32_t count,
                                            SAFEARRAY** eig, SAFEARRAY** eiv, int32_t* found);

/* exp_checksSettings_v3: queries (*enable < 0), disables and reports (0) or sets and enables
   (> 0) the check with the given code, then sets *enable to 1 when the check is on, else 0.
   Codes (real parameter in *value, integer parameter in *ivalue for 8 and 16; defaults):
   1 diagonal of A positive with log10(max/min) <= 310 (on); 2 log10(max/min) of L's diagonal
   <= 310 (off); 4 largest relative diagonal residual of L L' < 0.001 / n (off); 8 log10 of the
   norm-1 condition estimate <= 12, estimated with 2 columns (on); 16 every solution column's
   log10(|Ax-b|_1 / |b|_1) < -7.5 with up to 2 + 1 refinement passes (off). Other codes fail with
   "Invalid check code" and touch nothing; a null enable or value, or a null ivalue for codes 8
   and 16, fails with "Check setting not allocated". Settings live as long as the object. */
ORV_API int32_t ORV_CALL exp_checksSettings_v3(symRealSPDMatrixLinSys* obj, int32_t* enable,
                                               double* value, int32_t* ivalue, int32_t code);

/* ---- Dense packed generalised eigen-solver (no handle, no log, no error text) ---- */

/* exp_LAPACK_DSPGVD_v3 (guarded): A x = lambda B x with A and B in LAPACK packed lower storage,
   n(n+1)/2 doubles each. ap is only read. With bpReady 0, bpSource is copied into bp first (it may
   be bp itself). Out: w, n eigenvalues ascending; z, n x n column-major eigenvectors with
   Z' B Z = I; bp, the Cholesky factor of B. Returns LAPACK's INFO: 0 success, 1..n no
   convergence, n + k when the leading minor of order k of B is not positive definite; n = 0
   returns 0 and n < 0 returns -4 without touching anything; -1 for a null pointer, exhausted
   memory, or n > 32766 (LAPACK's 32-bit workspace size would wrap). */
ORV_API int32_t ORV_CALL exp_LAPACK_DSPGVD_v3(int32_t n, int32_t bpReady, const double* ap,
                                              const double* bpSource, double* bp, double* w,
                                              double* z);

/* ---- Seismic modal combination (own handles, no log, no error text) ---- */

/* A combination object folds the peak responses of 24 quantities over numModes vibration modes
   into one peak response per quantity. The objects are independent of the matrix handles; the
   three exports return 0 on success and -1 on failure, with no error text and no log line.

   Layout: in holds numModes blocks of 24 floats, mode 0 first; the response of quantity q in
   mode i is in[24 * i + q]. out is one block of 24 floats, out[q] for quantity q. Both are
   16-byte aligned (C11 _Alignas(16), aligned_alloc) and do not overlap. Unused quantities may
   be left 0. Every quantity is combined independently, in single precision, modes in
   ascending order, with the same bits on every processor. */

/* exp_mediaSismica_init_v3: creates a combination object and stores its address in *handle
   (what *handle held before is overwritten, not released).
   kind 1: square root of the sum of squares (SRSS);
   kind 2: complete quadratic combination (CQC) of modes with the given modal values and
           damping;
   kind 3: sum of absolute values.
   - modeValues and damping are read for kind 2 only, and only during this call. modeValues
     holds one value per mode: circular frequencies, frequencies or periods, in any unit, since
     only the ratio of two values enters and a ratio and its reciprocal give the same
     coefficient. Not the eigenvalues of exp_eigenSystem_v3 (their ratios are the squares of
     the frequency ratios): pass sqrt(lambda). The values must be positive and finite; equal
     values are allowed (closely spaced modes).
   - damping is the ratio to critical damping common to all modes: 0.05 for 5 %. With 0, equal
     modal values give NaN coefficients.
   - A negative numModes counts as 0 for kinds 1 and 3.
   - -1, *handle unchanged: a null handle, a kind other than 1, 2 or 3, kind 2 with a negative
     numModes or with a null modeValues for two modes or more, memory exhausted (kind 2 keeps
     numModes (numModes - 1) / 2 floats), a fault reading modeValues or writing *handle. */
ORV_API int32_t ORV_CALL exp_mediaSismica_init_v3(void** handle, int32_t kind, int32_t numModes,
                                                  const float* modeValues, float damping);

/* exp_mediaSismica_calc24_v3: combines the numModes blocks at in into out; u_i stands for
   in[24 * i + q] and the formula holds for each q.
   - kind 1, SRSS: out[q] = sqrt(out[q] + sum of u_i^2);
   - kind 3, absolute sum: out[q] = out[q] + sum of |u_i|;
     both add onto what out already holds: set out to zero before each call. An uninitialised
     out gives garbage or NaN, and a second call on the same out does not repeat the result
     (SRSS adds the square root of the first result unsquared).
   - kind 2, CQC: out[q] = sqrt(sum of u_i^2 + sum over i < j of 2 rho_ij |u_i u_j|) with
     rho_ij = 8 z^2 (1 + r) r^1.5 / ((1 - r^2)^2 + 4 z^2 r (1 + r)^2), r = value_i / value_j and
     z the damping ratio (Der Kiureghian's equal-damping coefficient). The cross terms enter with
     their absolute value, so the result is never below SRSS whatever the signs of the modal
     responses. out is overwritten; what it held is not read.
   - -1: a null handle, a null or misaligned out, a null or misaligned in when the object has
     modes, a fault reading in or writing out, a floating-point trap the caller enabled.
   The handle must come from exp_mediaSismica_init_v3 and not be freed. One object may combine
   on several threads at once, each call with its own out. */
ORV_API int32_t ORV_CALL exp_mediaSismica_calc24_v3(void* handle, const float* in, float* out);

/* exp_mediaSismica_free_v3: sets *handle to 0 and destroys the object it held; 0 in *handle
   does nothing. Returns 0; -1 for a null handle pointer or a fault (an address in *handle
   that is not an object's). */
ORV_API int32_t ORV_CALL exp_mediaSismica_free_v3(void** handle);

#ifdef __cplusplus
}
#endif

#endif /* ORVSPARSESOLVER_EXPORTS_H */

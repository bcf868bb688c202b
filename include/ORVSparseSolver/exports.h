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
 *    entry given above the diagonal is kept as given and read as its symmetric pair.
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
 *
 * Arrays of doubles that the host passes whole (exp_solve_v3, exp_eigenSystem_v3) come as a
 * pointer to a SAFEARRAY descriptor pointer. Only cDims, pvData and rgsabound[k].cElements are
 * read. For two dimensions rgsabound[0] counts the columns and rgsabound[1] the rows, and the
 * data are column-major: element (r, c) is pvData[r + c * rows].
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
   or a null handle pointer, does nothing. No failure is possible. */
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
   empty (length 0), never null; null only when memory is exhausted. The text that was read is
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
   count columns, the host's numbering, x_i' A x_j = delta_ij so x_i' B x_i = 1 / lambda_i).
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

/* kind 1: square root of the sum of squares; 2: complete quadratic combination of modes with the
   given modal values and damping ratio; 3: sum of absolute values. */
ORV_API int32_t ORV_CALL exp_mediaSismica_init_v3(void** handle, int32_t kind, int32_t numModes,
                                                  const float* modeValues, float damping);
/* Combines numModes blocks of 24 floats at in into the 24 floats at out; both 16-byte aligned. */
ORV_API int32_t ORV_CALL exp_mediaSismica_calc24_v3(void* handle, const float* in, float* out);
/* Destroys the object in *handle (if any) and sets *handle to 0. */
ORV_API int32_t ORV_CALL exp_mediaSismica_free_v3(void** handle);

#ifdef __cplusplus
}
#endif

#endif /* ORVSPARSESOLVER_EXPORTS_H */

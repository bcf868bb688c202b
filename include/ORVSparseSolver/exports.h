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
 *    floating-point traps while they run, then clear the pending flags and restore exactly the
 *    caller's enabled traps.
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

/* Creates the object when *handle is null, then initialises matrix A (whichMatrix 0) or B
   (otherwise) to dimension n, discarding everything the matrix held. Initialising A also
   releases B. n <= 0 leaves the matrix empty. Fails with "Cannot initialise B with different
   size than A" when B's n differs from A's; the created object stays in *handle. */
ORV_API int32_t ORV_CALL exp_initMatrix_v3(symRealSPDMatrixLinSys** handle, int32_t n,
                                           int32_t whichMatrix);

/* Destroys the object in *handle (if any), turns the process-wide log off and sets *handle
   to 0. A null handle pointer does nothing. */
ORV_API void ORV_CALL exp_deleteMatrix_v3(symRealSPDMatrixLinSys** handle);

/* Directs the process-wide log to fileName (created or truncated) and writes the banner
   "Version 3, 0, 0, 0 - RELEASE". An empty name turns logging off. A file that cannot be
   opened gives -1 with a message on standard error and no error text. obj may be null; it is
   used only to record an error. */
ORV_API int32_t ORV_CALL exp_logDestination_v3(symRealSPDMatrixLinSys* obj, const char* fileName);

/* The last error text of obj, or the process-wide one when obj is null, as a new BSTR that the
   caller frees with SysFreeString. Never null: no error gives an empty string. The text read,
   and always the process-wide text, are emptied. */
ORV_API BSTR ORV_CALL exp_getLastError_v3(symRealSPDMatrixLinSys* obj);

/* ---- Assembly ---- */

/* Before conversion both append the record (row, column, value); records of one position are
   summed at conversion. After conversion set replaces and incr adds to the stored value; a
   position outside the pattern fails with "Element not found". Indices outside 0..n-1 fail
   with "Element index out of range". */
ORV_API int32_t ORV_CALL exp_incrMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                               int32_t column, double value, int32_t whichMatrix);
ORV_API int32_t ORV_CALL exp_setMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                              int32_t column, double value, int32_t whichMatrix);

/* Converts the records to compressed-column form, summing duplicates. Fails with "Matrix
   already in CCS form" or "Matrix is empty". */
ORV_API int32_t ORV_CALL exp_createCCS_v3(symRealSPDMatrixLinSys* obj, int32_t whichMatrix);

/* ---- Matrix services ---- */

/* y = M x for n doubles (guarded). */
ORV_API int32_t ORV_CALL exp_multVector_v3(symRealSPDMatrixLinSys* obj, const double* x, double* y,
                                           int32_t whichMatrix);
/* Largest diagonal entry of A (guarded). */
ORV_API int32_t ORV_CALL exp_getMaxDiag_v3(symRealSPDMatrixLinSys* obj, double* maxDiag);
/* Writes the stored lower triangle as an "i j v" text file with 1-based indices. */
ORV_API int32_t ORV_CALL exp_writeMatrix_v3(symRealSPDMatrixLinSys* obj, const char* fileName,
                                            int32_t whichMatrix);

/* ---- Factorisation, checks, solution, eigenpairs ---- */

/* Orders, checks and factorises A (guarded). orderingMethod: "metis_node" (also ""), "metis",
   "metis_edge", "amdv1_1", "tree", "random", "identity". */
ORV_API int32_t ORV_CALL exp_factor_v3(symRealSPDMatrixLinSys* obj, const char* orderingMethod);

/* Solves A X = RHS for every column of RHS (guarded). */
ORV_API int32_t ORV_CALL exp_solve_v3(symRealSPDMatrixLinSys* obj, SAFEARRAY** X, SAFEARRAY** RHS);

/* The count smallest eigenvalues (ascending, in *eig) and A-normalised eigenvectors (columns of
   *eiv, N rows by count columns) of A x = lambda B x (guarded). *found receives how many are
   valid. */
ORV_API int32_t ORV_CALL exp_eigenSystem_v3(symRealSPDMatrixLinSys* obj, int32_t count,
                                            SAFEARRAY** eig, SAFEARRAY** eiv, int32_t* found);

/* Queries (*enable < 0), disables (0) or sets and enables (> 0) the check with the given code:
   1, 2, 4, 8 or 16. */
ORV_API int32_t ORV_CALL exp_checksSettings_v3(symRealSPDMatrixLinSys* obj, int32_t* enable,
                                               double* value, int32_t* ivalue, int32_t code);

/* ---- Dense packed generalised eigen-solver (no handle, no log, no error text) ---- */

/* A x = lambda B x with A and B in LAPACK packed lower storage; returns LAPACK's INFO or -1. */
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

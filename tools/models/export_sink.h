// Assembly into a library matrix object through its exports, as a host program does it.
#pragma once

#include <stdexcept>

#include <ORVSparseSolver/exports.h>

#include "models/model.h"
#include "models/sink.h"

namespace orv::models {

// A failed export, with the library's error text.
class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Forwards each record to exp_incrMatrixElem_v3; a failure throws ExportError with the text of
// exp_getLastError_v3. The object must outlive the sink.
class ExportSink : public AssemblySink {
 public:
  explicit ExportSink(symRealSPDMatrixLinSys* object) : object_(object) {}
  void add(int row, int col, double value, int whichMatrix) override;

 private:
  symRealSPDMatrixLinSys* object_;
};

// Initialises A (and B when withMass) of the object in *handle to the model's size, creating it
// when *handle is null, assembles the model into it and converts both to compressed-column form.
void assembleIntoLibrary(const Model& model, symRealSPDMatrixLinSys** handle, bool withMass);

// The last error text of object as a std::string (the BSTR released).
std::string lastError(symRealSPDMatrixLinSys* object);

}  // namespace orv::models

// Pieces of the printed reports that the commands share.
#pragma once

#include <span>
#include <string>
#include <utility>

#include "commands.h"
#include "log.h"

namespace orv::cli {

// Runs work (one or more library calls) with the session's progress display.
template <class Work>
decltype(auto) watched(const Session& session, Work&& work) {
  const Progress progress(session.logPath, session.progress);
  return std::forward<Work>(work)();
}

// The phase times and the condition estimate the library logged.
void printLibrarySummary(const LogSummary& log, const std::string& logPath);

// "1, 8" for the check codes set in codes; "none" for none.
std::string checkList(unsigned codes);

double norm1(std::span<const double> x);

// "1 entry", "24 entries".
std::string counted(long long count, const std::string& one, const std::string& many);

}  // namespace orv::cli

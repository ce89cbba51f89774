// The verdicts on standard error, case by case: a device the simulator
// plays (its personality and knobs), what portvet says of it. Each case runs
// twice: in real time against portvet-sim on a pty with small -r (the
// end-to-end suite), and in virtual time with the tool's own defaults (50
// attempts, 10 loops: a silent port takes 40 s of the clock), where the
// record must hold a whole run.
#ifndef PORTVET_TESTS_VERDICT_CASES_H
#define PORTVET_TESTS_VERDICT_CASES_H

#include <ostream>
#include <string>
#include <vector>

struct VerdictCase {
  const char *name;
  std::vector<std::string> sim;   // personality and knobs
  std::vector<std::string> args;  // portvet's, for the real-time run
  std::string verdict;            // after "portvet: COM1: "; a regex if
  bool regex;                     // regex is set
  const char *not_under_wine;     // why Wine cannot run it; null: it can
  std::string at_defaults;        // the verdict with the defaults; "": same
};

inline void PrintTo(const VerdictCase &c, std::ostream *os) { *os << c.name; }

// The connection check's cases.
std::vector<VerdictCase> CheckVerdicts();

// The stress test's.
std::vector<VerdictCase> StressVerdicts();

// What Wine cannot express of a hang-up (see harness.h).
extern const char *const kVerdictWineHangUp;

#endif

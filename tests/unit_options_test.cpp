// Option values and the option parsers of both modes.
#include <gtest/gtest.h>
#include <limits.h>

#include <utility>
#include <vector>

#include "../src/common/option_arg.h"
#include "../src/main/options.h"
#include "../src/st/st.h"

namespace {

struct ValueCase {
  const char *text;
  int value;
};

TEST(OptionValue, ReadsLikeASaturatingDecimal) {
  const ValueCase cases[] = {
      {"1", 1},
      {"-5", -5},
      {"+7", 7},
      {" \t 3", 3},
      {"2abc", 2},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"0x10", 0},
      {"010", 10},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"4294967297", INT_MAX},
      {"99999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"-99999999999999999999999", INT_MIN},
  };
  for (const ValueCase &c : cases) {
    EXPECT_EQ(option_value(c.text), c.value) << "text '" << c.text << "'";
  }
}

struct MainCase {
  std::vector<const char *> args;
  const char *refused;  // nullptr: all valid
  int port, attempts, timeout;
};

TEST(MainParseOptions, KeepsValuesAndRefusesTheFirstBadArgument) {
  const MainCase cases[] = {
      {{}, nullptr, -1, 50, 20},
      {{"-c2"}, nullptr, 2, 50, 20},
      {{"-c9"}, nullptr, 9, 50, 20},  // the range is checked by the caller
      {{"-r1"}, nullptr, -1, 2, 20},
      {{"-r-5"}, nullptr, -1, 2, 20},
      {{"-r3"}, nullptr, -1, 3, 20},
      {{"-t-1"}, "-t-1", -1, 50, 20},
      {{"-t2147483647"}, nullptr, -1, 50, 2147483647},
      {{"-T7", "-R9", "-C1"}, nullptr, 1, 9, 7},
      {{"-c1", "-c3"}, nullptr, 3, 50, 20},
      {{"-r0"}, "-r0", -1, 50, 20},
      {{"-t0"}, "-t0", -1, 50, 20},
      {{"-c"}, "-c", -1, 50, 20},
      {{"x12"}, "x12", -1, 50, 20},
      {{"-q1", "-z1"}, "-q1", -1, 50, 20},
  };
  for (const MainCase &c : cases) {
    std::vector<char *> argv = {const_cast<char *>("portvet")};
    for (const char *a : c.args) argv.push_back(const_cast<char *>(a));
    main_options o;
    const char *refused =
        main_ParseOptions(static_cast<int>(argv.size()), argv.data(), &o);
    std::string where = c.args.empty() ? "(none)" : c.args.front();
    if (c.refused == nullptr) {
      EXPECT_EQ(refused, nullptr) << where;
      EXPECT_EQ(o.port, c.port) << where;
      EXPECT_EQ(o.attempts, c.attempts) << where;
      EXPECT_EQ(o.timeout, c.timeout) << where;
    } else {
      ASSERT_NE(refused, nullptr) << where;
      EXPECT_STREQ(refused, c.refused);
    }
  }
}

struct StCase {
  std::vector<const char *> args;
  const char *refused;
  int port, baud, loops;
};

TEST(StParseOptions, ChecksEveryRange) {
  const StCase cases[] = {
      {{"-c1"}, nullptr, 1, 115200, 10},
      {{"-c4", "-b600", "-r1"}, nullptr, 4, 600, 1},
      {{"-b256000"}, nullptr, -1, 256000, 10},
      {{"-B9600", "-b19200"}, nullptr, -1, 19200, 10},
      {{"-b599"}, "-b599", 0, 0, 0},
      {{"-b256001"}, "-b256001", 0, 0, 0},
      {{"-c0"}, "-c0", 0, 0, 0},
      {{"-c5"}, "-c5", 0, 0, 0},
      {{"-r0"}, "-r0", 0, 0, 0},
      {{"-r-3"}, "-r-3", 0, 0, 0},
      {{"-t5"}, "-t5", 0, 0, 0},
      {{"-c"}, "-c", 0, 0, 0},
      {{"-c2", "-x", "-c9"}, "-x", 0, 0, 0},
  };
  for (const StCase &c : cases) {
    std::vector<char *> argv = {const_cast<char *>("portvet"),
                                const_cast<char *>("-st")};
    for (const char *a : c.args) argv.push_back(const_cast<char *>(a));
    st_options o;
    const char *refused =
        st_ParseOptions(static_cast<int>(argv.size()), argv.data(), &o);
    if (c.refused == nullptr) {
      EXPECT_EQ(refused, nullptr) << c.args.front();
      EXPECT_EQ(o.port, c.port) << c.args.front();
      EXPECT_EQ(o.baud, c.baud) << c.args.front();
      EXPECT_EQ(o.loops, c.loops) << c.args.front();
    } else {
      ASSERT_NE(refused, nullptr) << c.args.front();
      EXPECT_STREQ(refused, c.refused);
    }
  }
}

// The stress test's timeout: 1 ms from 15000 baud up (so 19200 and up keep
// the 1 ms of old), else 1.5 character times (15 bit times) rounded up.
TEST(StTimeout, CoversOneAndAHalfCharacters) {
  const std::pair<int, int> cases[] = {
      {600, 25},  {1200, 13}, {2400, 7},  {9600, 2},   {14400, 2},
      {14999, 2}, {15000, 1}, {19200, 1}, {115200, 1}, {256000, 1},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(st_timeout(c.first), c.second) << c.first << " baud";
  }
}

}  // namespace

#!/bin/sh
# A test that is ended from outside, as ctest's timeout ends it (SIGKILL, no
# cleanup of its own), leaves none of the programs it started running: the
# simulator and portvet end with it.
#   children_test.sh TIMING_TEST_BINARY
set -u
bin=$1
mark="portvet-children-$$"
# A case that runs a simulator and portvet for well over a second.
PORTVET_TEST_MARK=$mark "$bin" \
  --gtest_filter='Cases/TimingTest.NeverEarlyNeverManyTimesLate/SilentPortLongTimeout' \
  >/dev/null 2>&1 &
test_pid=$!
# Both are up once a portvet with the mark runs. One grep reads every
# process's environment (-s: one that ended meanwhile is no error); a
# redirection from a file that is gone fails before a 2>/dev/null after it
# would apply, hence the braces.
marked() {
  grep -lsaxz "PORTVET_TEST_MARK=$mark" /proc/[0-9]*/environ |
    while read -r env; do
      pid=${env#/proc/}
      pid=${pid%/environ}
      [ "$pid" = "$test_pid" ] && continue
      echo "$pid $({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)"
    done
}
tries=0
until marked | grep -q "portvet -c1"; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && { echo "FAIL: the case did not start its programs"; kill -9 "$test_pid"; exit 1; }
  sleep 0.05
done
kill -9 "$test_pid"
wait "$test_pid" 2>/dev/null
sleep 0.5
left=$(marked)
if [ -n "$left" ]; then
  echo "FAIL: left running after the test was killed:"
  echo "$left"
  echo "$left" | while read -r pid rest; do kill -9 "$pid" 2>/dev/null; done
  exit 1
fi
echo "ok: nothing the killed test started is left"

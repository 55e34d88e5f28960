#!/bin/sh
# The console fixture on a real Wine console: script(1) gives it a pseudo-terminal, of which
# Wine makes a console with a non-UTF-8 output code page, so text takes the UTF-16 road.
# Checks that the em dash arrives as one character (also when its bytes come in two writes), that
# after the prompt the cursor stands behind "Press Enter to close." until Enter is typed, that a
# fatal report arrives whole, and that Ctrl+C and Ctrl+Break leave a program waiting for its child
# running (and only while it waits).
# Usage: wine_terminal_test.sh <console_fixture.exe> <stand-in powershell.exe> <emulator command...>
set -u
fixture=$1
stand_in="Z:$(printf '%s' "$2" | tr / '\\')"
shift 2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
command -v script >/dev/null 2>&1 || skip "script(1) is not installed, so no terminal can be given to Wine"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command="$*"
command="$command '$fixture'"

# What the terminal shows, without Wine's cursor hiding around each write and with the
# terminal's own carriage return (onlcr) taken out again.
normalise() {
  sed -e 's/\x1b\[?25[lh]//g' "$1" | sed -e 's/\r\r$//' -e 's/\r$//'
}

script -qec "$command console-info" /dev/null </dev/null >"$work/info" 2>&1
info=$(normalise "$work/info")
case "$info" in
  "console 65001") skip "Wine's console uses UTF-8 output here, so the UTF-16 road is not taken" ;;
  "console "*) ;;
  *) skip "Wine made no console of the terminal (fixture says: $info)" ;;
esac

# Types Enter only once the prompt has been on the screen for a second, after keeping a copy
# of the screen as it was while the fixture waited.
{
  i=0
  until grep -q 'close\.' "$work/screen" 2>/dev/null; do
    i=$((i + 1))
    [ "$i" -gt 600 ] && break
    sleep 0.1
  done
  sleep 1
  cp "$work/screen" "$work/waiting"
  printf '\r'
  sleep 1
} | script -qec "$command prompt" /dev/null >"$work/screen" 2>&1
status=$?

[ -f "$work/waiting" ] || fail "no screen was captured while waiting"
expected_waiting=$(printf 'Setup \342\200\224 console\n\342\200\224 split\n\nPress Enter to close.')
waiting=$(normalise "$work/waiting")
if [ "$waiting" != "$expected_waiting" ]; then
  echo "while waiting for Enter the screen held:"; od -c "$work/waiting"
  fail "the prompt was not shown whole, with the cursor behind it, before Enter"
fi
# The prompt must be the very last thing on the screen: no line end after "close.".
last=$(sed -e 's/\x1b\[?25[lh]//g' "$work/waiting" | tail -c 6)
[ "$last" = "close." ] || fail "something followed the prompt before Enter: $(printf '%s' "$last" | od -c)"

expected_all="$expected_waiting
read 2 bytes, line \"pre:\\x0d\\x0a\""
all=$(normalise "$work/screen")
if [ "$all" != "$expected_all" ]; then
  echo "the whole screen held:"; od -c "$work/screen"
  fail "the screen after Enter is not as expected"
fi
[ "$status" -eq 1 ] || fail "the fixture ended with $status instead of 1"

# A fatal report reaches the console through its own road, which must not allocate: converted in
# pieces of 512 bytes, cut between characters (the fixture puts a dash across the first cut).
# The terminal is made wide enough for the report's longest line, since Wine redraws a wrapped
# line; the comparison is made without line ends. An empty ZARVO_BACKTRACE asks for no backtrace.
ZARVO_BACKTRACE= script -qec "stty cols 1000; $command fatal" /dev/null </dev/null >"$work/fatal" 2>&1
status=$?
dashes=$(i=0; while [ $i -lt 200 ]; do printf '\342\200\224'; i=$((i + 1)); done)
expected_fatal="thread 'main' (N) panicked at tests/console/console_fixture.cpp:L:C:$dashes"
expected_fatal="${expected_fatal}note: run with \`ZARVO_BACKTRACE=1\` environment variable to display a backtrace"
fatal=$(sed -e 's/\x1b\[?25[lh]//g' -e 's/\x1b\[K//g' "$work/fatal" | tr -d '\r\n' |
  sed -e "s/^thread 'main' ([0-9]*) /thread 'main' (N) /" -e 's/console_fixture\.cpp:[0-9]*:[0-9]*:\.\{0,2\}/console_fixture.cpp:L:C:/')
if [ "$fatal" != "$expected_fatal" ]; then
  echo "the fatal report showed:"; od -c "$work/fatal"
  fail "the fatal report did not reach the console whole"
fi
[ "$status" -eq 101 ] || fail "the fatal stop ended with $status instead of 101"
# Ctrl+C, then Ctrl+Break, to every process on the console, sent by the child while the fixture
# waits for it: the child ends, the fixture goes on; Ctrl+C after the wait ends the fixture.
ZARVO_PS_INTERRUPT=1 script -qec "$command interrupted '$stand_in'" /dev/null </dev/null >"$work/interrupted" 2>&1
interrupted=$(normalise "$work/interrupted")
if [ "$interrupted" != "waited for the child" ]; then
  echo "the interrupted run showed:"; od -c "$work/interrupted"
  fail "Ctrl+C during the wait ended the fixture, or Ctrl+C after it did not"
fi
echo "passed: em dash shown as one character, cursor behind the prompt until Enter, fatal report whole," \
  "Ctrl+C left to the child while waiting ($info)"

#!/usr/bin/env bash
# The synth tool as a user meets it: exit codes, messages, output files that
# appear whole or not at all.
# usage: cli_test.sh PATH/TO/synth
set -uo pipefail
synth=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
passes=0

check() {  # check NAME EXPECTED-EXIT COMMAND...
  local name=$1 expected=$2
  shift 2
  "$@" >out.txt 2>err.txt
  local got=$?
  if [ "$got" -ne "$expected" ]; then
    echo "FAIL $name: exit $got, expected $expected"; sed 's/^/  /' err.txt; failures=$((failures + 1))
  else
    passes=$((passes + 1))
  fi
}
expect() {  # expect NAME CONDITION...
  local name=$1
  shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL $name"; failures=$((failures + 1)); fi
}

# Usage errors exit 2; help exits 0.
check "help" 0 "$synth" --help
check "no command" 2 "$synth"
check "unknown command" 2 "$synth" frobnicate
for c in render check export; do check "$c --help" 0 "$synth" $c --help; done
check "frames 0" 2 "$synth" render --frames 0
check "frames too many" 2 "$synth" render --frames 2506753
check "frames not a number" 2 "$synth" render --frames 12x
check "bad format" 2 "$synth" render --format mp3
check "unknown option" 2 "$synth" render --loud
check "two songs" 2 "$synth" check a.syn b.syn

# Export, check, and render the exported image.
check "export" 0 "$synth" export -o song.syn
check "check image" 0 "$synth" check song.syn
expect "summary lists 17 programs" [ "$(grep -c ' units ' out.txt)" -eq 17 ]
check "check shipped" 0 "$synth" check
check "render image" 0 "$synth" render song.syn --frames 4096 --format f32 -o image.f32
check "render shipped" 0 "$synth" render --frames 4096 --format f32 -o shipped.f32
expect "f32 holds 8 bytes a frame" [ "$(stat -c %s image.f32)" -eq 32768 ]
expect "image renders like the shipped song" cmp -s image.f32 shipped.f32
check "render wav" 0 "$synth" render song.syn --frames 4096
expect "default name from the song" [ -s song.wav ]
expect "summary names the output" grep -q "song.syn -> song.wav" out.txt
expect "wav is RIFF float" [ "$(head -c 4 song.wav)" = RIFF ]

# Bad input exits 1 with a message naming the file.
check "missing song" 1 "$synth" check nothere.syn
expect "missing song named" grep -q "nothere.syn: cannot open" err.txt
head -c 100 song.syn > short.syn
check "truncated song" 1 "$synth" check short.syn
expect "truncated song named" grep -q "^short.syn: " err.txt
check "render truncated" 1 "$synth" render short.syn -o never.wav
expect "nothing written for a bad song" [ ! -e never.wav ]

# Output that cannot be written: exit 1, no file, no leftovers.
check "unwritable path" 1 "$synth" render --frames 10 -o /nonexistent/dir/out.wav
expect "unwritable path named" grep -q "/nonexistent/dir/out.wav" err.txt
mkdir ro && chmod 500 ro
if [ "$(id -u)" -ne 0 ]; then
  check "read-only folder" 1 "$synth" render --frames 10 -o ro/out.wav
fi
expect "no partial files" [ -z "$(ls -A ro)" ]

# A full disk: the render fails and leaves nothing under either name.
if [ "$(id -u)" -eq 0 ] && mkdir full && mount -t tmpfs -o size=64k tmpfs full 2>/dev/null; then
  check "full disk" 1 "$synth" render --frames 100000 -o full/out.wav
  expect "full disk reported" grep -qi "no space" err.txt
  expect "full disk leaves nothing" [ -z "$(ls -A full)" ]
  umount full
fi

# An interrupted render leaves nothing behind.
"$synth" render -o interrupted.wav >/dev/null 2>&1 &
pid=$!
sleep 0.3
kill -INT $pid
wait $pid
expect "interrupt exits non-zero" [ $? -ne 0 ]
expect "interrupt leaves nothing" [ -z "$(ls interrupted.wav* 2>/dev/null)" ]

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# Starts the program, lets it reach its event loop, asks it to come to the
# front through its hand-over file, asks it to quit the way a session manager
# would (SIGTERM), and expects a clean exit.
set -u
prog=$1
log=$(mktemp)
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
export DRENTIC_STATE_DIR=$state
"$prog" >"$log" 2>&1 &
pid=$!
for _ in $(seq 1 30); do
  sleep 0.2
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"; rc=$?
    echo "program ended by itself with status $rc before it was asked to quit"; cat "$log"; exit 1
  fi
done
# Another program asks for the window by creating the file; the running
# program takes it away within a few seconds.
: >"$state/bringFrontFile.dat"
for _ in $(seq 1 50); do
  [ -e "$state/bringFrontFile.dat" ] || break
  sleep 0.1
done
if [ -e "$state/bringFrontFile.dat" ]; then
  kill -KILL "$pid"; echo "bringFrontFile.dat was not taken within 5 s"; cat "$log"; exit 1
fi
kill -TERM "$pid"
for _ in $(seq 1 100); do
  if ! kill -0 "$pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"; echo "program did not quit within 10 s of the request"; cat "$log"; exit 1
fi
wait "$pid"; rc=$?
cat "$log"; rm -f "$log"
if [ "$rc" -ne 0 ]; then echo "program quit with status $rc"; exit 1; fi
echo "program started and quit cleanly"

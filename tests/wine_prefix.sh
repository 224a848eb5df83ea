#!/bin/sh
# Makes the Wine prefix of the Windows tests ready before the first of them
# runs. The first time wineboot sets it up, and the Wine server it started
# is waited for, so that nothing of the set-up still runs. Then one server
# for all the tests, kept for a minute after the last program ends, and
# wineboot once more, which starts Wine's services. All in sessions of their
# own, their output in a log, so that CTest neither waits for them nor ends
# them, and no test's terminal is held by them.
# Arguments: wineserver, wine, the log, the deadline in seconds of each step.
server=$1 wine=$2 log=$3 deadline=$4
exec </dev/null
{ test -d "$WINEPREFIX" || { timeout "$deadline" setsid "$wine" wineboot &&
    timeout "$deadline" "$server" -w; } } >"$log" 2>&1 &&
  { setsid "$server" -p60; # a server that runs already serves
    timeout "$deadline" setsid "$wine" wineboot; } >>"$log" 2>&1 && exit 0
echo "Wine could not make the prefix $WINEPREFIX ready, $deadline s each step:"
cat "$log"
exit 1

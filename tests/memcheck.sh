#!/bin/sh
# memcheck.sh LEAK_KINDS PROGRAM ARGS...: runs a program under valgrind memcheck and passes when it
# ends with status 1 (test_grey's status on every path) and memcheck finds no error and no leak of
# the given kinds. A run that the library ends from inside a call still holds its buffers, which
# are reachable, not lost: such runs check definite,possible; the others check all.
kinds=$1
shift
valgrind --quiet --suppressions="$(dirname "$0")/valgrind.supp" --leak-check=full \
  --show-leak-kinds=all --errors-for-leak-kinds="$kinds" --error-exitcode=99 "$@"
status=$?
if [ "$status" -ne 1 ]; then
  echo "memcheck.sh: status $status (99: memcheck found an error or a leak)"
  exit 1
fi

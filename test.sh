#!/bin/sh
# ./test.sh: every test, on a machine that may not have make yet (see run.sh).
exec sh "$(dirname "$0")/run.sh" test

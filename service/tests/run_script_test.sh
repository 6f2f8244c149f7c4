#!/bin/sh
# scripts/run with a log directory that does not exist: the collector cannot
# start, and the script says when and why it stopped and passes its exit
# code (3) on.
#   run_script_test.sh SOURCE_DIR
set -u
source_dir=$1
missing='C:\quax-no-such-directory'
captured=$(mktemp)
"$source_dir/scripts/run" "LogFilePath=$missing" </dev/null >"$captured" 2>&1
status=$?
output=$(tr -d '\r' <"$captured")
rm -f "$captured"

failed=0
expect_line() {
  if ! printf '%s\n' "$output" | grep -Eq "$1"; then
    echo "missing line: $1"
    failed=1
  fi
}
expect_line "^ERROR: QUAXWINPROCESS: The log file path 'C:\\\\quax-no-such-directory' is not valid\\.\$"
expect_line '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} The collector stopped on its own: the log file path is not valid \(exit code 3\)\.$'
[ "$status" -eq 3 ] || { echo "scripts/run exited with $status"; failed=1; }
if [ $failed -ne 0 ]; then
  echo "--- output of scripts/run:"
  printf '%s\n' "$output"
fi
exit $failed

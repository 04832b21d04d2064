# Shared by the shell tests of the narvo tool: run it, record its status and output, count failures.
# The caller sets narvo=(PROGRAM...) and works in a scratch folder of its own.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Runs narvo; stdout and stderr without the carriage returns a Windows build writes.
run() {
  "${narvo[@]}" "$@" >out.txt 2>err.txt
  status=$?
  tr -d '\r' <out.txt >stdout.txt
  tr -d '\r' <err.txt >stderr.txt
}
# expect STATUS WHAT [RESULT-CODE]: the last run's exit status, and the result code it reported.
expect() {
  [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1 ($(cat stderr.txt))"
  [ $# -lt 3 ] || grep -q "result $3 " stderr.txt || fail "$2: expected result $3 ($(cat stderr.txt))"
}

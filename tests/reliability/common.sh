# Shared by the reliability checks: the end-to-end helpers of tests/e2e/lib.sh
# and what these checks add to them (bounded runs, result lines, the
# spooler's state, the log's records).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../e2e/lib.sh"

product_names=('Zorvane Creator' 'Zorvane Creator Port Monitor' ZorvanePort)
# A run of setup.exe that has not ended after this long hangs.
run_limit_s=${ZORVANE_RUN_LIMIT_S:-150}

# A prefix for setup.exe: stand-ins (unless "none"), the distribution folder in
# C:\dist, the log folder C:\testxyzzy and C:\cwd, the current directory of
# every run, so that a relative log path stays inside the prefix.
prepared_prefix() {
  local dist=$1 standins=$2 prefix
  prefix=$(new_prefix)
  [ "$standins" = none ] || install_standins "$prefix" "$standins"
  install_dist "$prefix" "$dist"
  mkdir -p "$prefix/drive_c/testxyzzy" "$prefix/drive_c/cwd"
  echo "$prefix"
}

# Runs a Windows program of the prefix from C:\cwd, bounded in time; standard
# output goes to OUT. Sets $code. A run that outlives the limit is a hang.
#   run_bounded PREFIX OUT PROGRAM ARGS...
run_bounded() {
  local prefix=$1 out=$2
  shift 2
  set +e
  (cd "$prefix/drive_c/cwd" && WINEPREFIX=$prefix exec timeout -s KILL "$run_limit_s" wine "$@") \
    >"$out" 2>"$out.stderr"
  code=$?
  set -e
  [ $code -ne 137 ] || fail "hang: $* still ran after ${run_limit_s} s"
}

run_setup_bounded() {
  local prefix=$1 out=$2
  shift 2
  run_bounded "$prefix" "$out" 'C:\dist\setup.exe' "$@"
}

# The one result line for an exit code: "Succeeded.  See <path>" for 0,
# "Failure.  See <path>" for 1, written in text mode (every LF as CR LF, the
# one ending the line included); any other code is a crash.
#   expect_result OUT CODE LOG_PATH_AS_PRINTED
expect_result() {
  local out=$1 code=$2 path=$3 expected
  case $code in
    0) expected="Succeeded.  See $path" ;;
    1) expected="Failure.  See $path" ;;
    *) fail "exit code $code (a crash?); stdout: $(head -c 300 "$out" | od -c | head -5)" ;;
  esac
  printf '%s\n' "$expected" | LC_ALL=C sed 's/$/\r/' | cmp -s - "$out" ||
    fail "exit code $code but the result line was: $(head -c 300 "$out" | od -c | head -5)"
}

# What zorvanecheck.exe reports on the product's printer, driver, monitor and
# port, CR removed.
product_state() {
  local prefix=$1 out=$2
  run_bounded "$prefix" "$out" 'C:\dist\zorvanecheck.exe' "${product_names[@]}"
  [ $code -eq 0 ] || fail "zorvanecheck exit code $code: $(cat "$out.stderr")"
  tr -d '\r' <"$out" >"$out.tmp" && mv "$out.tmp" "$out"
}

# The printer installed once, on the product's driver and port, with the
# monitor and the port behind it.
expect_installed_once() {
  local state=$1
  count_kind() { grep -c "^$1	$2	" "$state" || true; }
  [ "$(count_kind printer 'Zorvane Creator')" -eq 1 ] || { cat "$state"; fail "not exactly one printer"; }
  grep -q "^printer	Zorvane Creator	driver=Zorvane Creator	port=ZorvanePort	" "$state" ||
    { cat "$state"; fail "the printer's driver or port"; }
  [ "$(count_kind driver 'Zorvane Creator')" -eq 1 ] || { cat "$state"; fail "not exactly one driver"; }
  [ "$(count_kind monitor 'Zorvane Creator Port Monitor')" -eq 1 ] || { cat "$state"; fail "not exactly one monitor"; }
  [ "$(count_kind port ZorvanePort)" -eq 1 ] || { cat "$state"; fail "not exactly one port"; }
  grep -q "^port	ZorvanePort	monitor=Zorvane Creator Port Monitor$" "$state" || { cat "$state"; fail "the port's monitor"; }
}

# The log's messages, one line each, after checking that the file is nothing
# but complete records.
log_records() {
  python3 "$here/log-records" "$@"
}

# Seconds since the epoch with fractions, for the figures printed.
now_s() { date +%s.%N; }
elapsed_s() { awk -v a="$1" -v b="$(now_s)" 'BEGIN { printf "%.1f", b - a }'; }

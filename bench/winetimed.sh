# Sourced by the benchmarks that time a program under Wine (bench/engine,
# bench/raster). scripts/wine-run checks the prefix and starts Wine's
# session (its server, services) before every program, which costs about
# 100 ms each time; a benchmark starts the session untimed and then times
# the program's own start, run and exit, as bench/run does.
#
#   wine_session          the session of WINEPREFIX (default: wine-run's)
#   wine_timed PROGRAM…   the program under Wine, as wine-run runs it
wine_session() {
  "$repo/scripts/wine-run" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_timed() {
  WINEARCH=win32 WINEPREFIX=${WINEPREFIX:-$repo/build/wine/unit} WINEDEBUG=${WINEDEBUG:--all} \
    WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=} LANG=${LANG:-C.UTF-8} wine "$@"
}

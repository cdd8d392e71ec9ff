# Sourced: the Wine prefix for this shell, quiet, without the Mono and Gecko
# installers. Leaves WINEPREFIX and TARNWICK_WINEPREFIX exported. The prefix is,
# in this order: $TARNWICK_WINEPREFIX (the tests set it to a folder of their
# own); a WINEPREFIX you set already; else a new throw-away prefix under /tmp.
# WINEDEBUG defaults to -all (quiet); set it first to see more.
if [ -z "${TARNWICK_WINEPREFIX:-}" ]; then
  if [ -n "${WINEPREFIX:-}" ]; then
    TARNWICK_WINEPREFIX="$WINEPREFIX"
  else
    TARNWICK_WINEPREFIX="$(mktemp -d /tmp/tarnwick-wine.XXXXXX)"
  fi
  export TARNWICK_WINEPREFIX
fi
export WINEPREFIX="$TARNWICK_WINEPREFIX"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi

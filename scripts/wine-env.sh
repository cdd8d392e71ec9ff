# Sourced: a throw-away Wine prefix for this run, quiet, without the Mono and
# Gecko installers. Leaves WINEPREFIX exported.
if [ -z "${TARNWICK_WINEPREFIX:-}" ]; then
  TARNWICK_WINEPREFIX="$(mktemp -d /tmp/tarnwick-wine.XXXXXX)"
  export TARNWICK_WINEPREFIX
fi
export WINEPREFIX="$TARNWICK_WINEPREFIX"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi

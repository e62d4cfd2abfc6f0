#!/bin/sh
# Runs a Windows program under Wine, in the Wine prefix WINEPREFIX, which
# windows/test.sh makes for its run (never ~/.wine), with Wine's own chatter
# and its Mono and Gecko installers off.
: "${WINEPREFIX:?set WINEPREFIX to a Wine prefix of the run (windows/test.sh does)}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
exec wine "$@"

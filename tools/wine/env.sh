# Sourced by the Wine scripts with $prefix set: one prefix per build folder, no display, and of
# Wine's own messages only its errors, which tell why a program failed at its start.
export WINEPREFIX="$prefix"
export WINEDEBUG=-all,err+all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

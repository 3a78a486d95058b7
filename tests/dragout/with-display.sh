#!/bin/sh
# Runs a program on an X server and a window manager of its own (Xvfb through xvfb-run, openbox),
# so a drag goes through the X server's drag-and-drop protocol as it does into a DAW or a file
# manager, on any machine. scripts/setup installs xvfb, xauth, openbox and xdotool.
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" sh -c '
  openbox --sm-disable >/dev/null 2>&1 &
  # The window manager is up once it answers for the desktops; a loaded machine can take seconds.
  tries=0
  until xdotool get_desktop >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ]; then
      echo "openbox did not start, or xdotool is missing (scripts/setup installs both)" >&2
      exit 1
    fi
    sleep 0.1
  done
  unset WAYLAND_DISPLAY
  QT_QPA_PLATFORM=xcb exec "$@"' with-display "$@"

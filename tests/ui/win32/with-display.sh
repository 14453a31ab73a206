#!/bin/sh
# Runs a command that opens windows: on the current X display when there is
# one, else on a virtual display of its own.
if [ -n "$DISPLAY" ]; then
  exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"

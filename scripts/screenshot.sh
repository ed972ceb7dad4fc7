#!/usr/bin/env bash
# docs/screenshot.png: the window on the simulated demo network (Xvfb + lab).
exec "$(dirname "$0")/../tests/ui/screenshot.sh" "$@"

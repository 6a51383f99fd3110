#!/bin/sh
# Started by the command RUN of update 1, in place of a vendor's set-up
# program: writes a marker file (named by the first argument) into the
# folder it was started in.
echo "Merivane set-up ran at $(date '+%Y-%m-%d %H:%M:%S') in $(pwd)" >"${1:-setup-done.txt}"

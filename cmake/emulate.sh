#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs an ARM program under qemu-user: cmake/emulate.sh QEMU PROGRAM [ARG...]. One worker thread
# unless the run sets IQTOOLS_THREADS itself (threads under emulation only slow the tests down).
IQTOOLS_THREADS=${IQTOOLS_THREADS-1}
export IQTOOLS_THREADS
exec "$@"

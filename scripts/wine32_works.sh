#!/usr/bin/env bash
# Succeeds when this machine can run 32-bit Windows programs: 32-bit Wine is a 32-bit Linux program,
# and some virtual machines' kernels run no 32-bit programs at all ("Exec format error").
exec /usr/lib/wine/wine --version >/dev/null 2>&1

#!/usr/bin/env python3
"""Runs one command and prints its wall time in seconds and its peak
resident memory in KiB: "<seconds> <kib>".  The command's output is
discarded; a failing command fails the measurement."""
import resource
import subprocess
import sys
import time

start = time.perf_counter()
result = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
elapsed = time.perf_counter() - start
if result.returncode != 0:
    sys.stderr.write(result.stderr.decode(errors="replace"))
    sys.exit(f"measure: {sys.argv[1]} exited with {result.returncode}")
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"{elapsed:.3f} {peak}")

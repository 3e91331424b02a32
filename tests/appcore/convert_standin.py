#!/usr/bin/env python3
"""Scripted stand-in for the converter, installed as `ffmpeg` on PATH by the
converter tests.

CONVERT_STANDIN names a JSON file with a list of steps, run in order:
  ["out", text]        write text to standard output (flushed at once)
  ["err", text]        write text to standard error (flushed at once)
  ["sleep", seconds]
  ["output", text]     write text into the output file (the last argument)
  ["helper", seconds]  start a child that keeps both output pipes open and
                       sleeps (a helper of the converter)
  ["pids", path]       write {"self": pid, "helpers": [pids]} into path
  ["hang"]             sleep until killed
  ["exit", status]
CONVERT_STANDIN_ARGS, when set, names a file that receives the arguments as
a JSON list. Without steps the stand-in exits 0 at once.
"""
import json
import os
import subprocess
import sys
import time


def main():
    args_file = os.environ.get("CONVERT_STANDIN_ARGS")
    if args_file:
        with open(args_file, "w", encoding="utf-8") as f:
            json.dump(sys.argv[1:], f)
    steps_file = os.environ.get("CONVERT_STANDIN")
    steps = []
    if steps_file:
        with open(steps_file, encoding="utf-8") as f:
            steps = json.load(f)
    out = sys.stdout.buffer
    err = sys.stderr.buffer
    helpers = []
    for step in steps:
        kind = step[0]
        if kind == "out":
            out.write(step[1].encode("latin-1"))
            out.flush()
        elif kind == "err":
            err.write(step[1].encode("latin-1"))
            err.flush()
        elif kind == "sleep":
            time.sleep(float(step[1]))
        elif kind == "output":
            with open(sys.argv[-1], "wb") as f:
                f.write(step[1].encode("latin-1"))
        elif kind == "helper":
            helpers.append(subprocess.Popen(["sleep", str(step[1])]).pid)
        elif kind == "pids":
            # Renamed into place whole: a test polling for the file never
            # reads it half written.
            with open(step[1] + ".tmp", "w", encoding="utf-8") as f:
                json.dump({"self": os.getpid(), "helpers": helpers}, f)
            os.replace(step[1] + ".tmp", step[1])
        elif kind == "hang":
            while True:
                time.sleep(1)
        elif kind == "exit":
            sys.exit(int(step[1]))
    sys.exit(0)


if __name__ == "__main__":
    main()

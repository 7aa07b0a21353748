#!/usr/bin/env python3
"""Fails when code that runs on a worker thread may read the settings record.

Workers get their parameters in a job that the GUI thread fills before they
start; they never read the global settings record (optionsInstance). The
engine folders (imageio, project, hdr, documents) hold kernels and workers, so
optionsInstance may appear there only in the files listed in ALLOWED, each of
which reads it on the GUI thread alone (say why). A file named *Worker* never
reads it, wherever it lives.

Usage: check-settings-reads.py [repository folder]
"""

import os
import re
import sys

ENGINE_FOLDERS = ("imageio", "project", "hdr", "documents")

# file: why its reads are on the GUI thread only.
ALLOWED = {
    "project/processingProject.cpp": "the constructor and the cleanup run on the GUI thread",
    "project/processingProject_color.cpp": "colour transforms are rebuilt on the GUI thread",
    "project/processingProject_load.cpp": "loadPhotoPrepare copies the load choices into the photo record",
    "project/processingProject_session.cpp": "the session folder is made and removed on the GUI thread",
    "project/processingProject_sizes.cpp": "the pyramids are allocated while a load is prepared",
    "project/processingProject_toneMapping.cpp": "the view's preview pass is run by the view",
    "imageio/exiftoolDaemon.cpp": "the daemon is started by the project's constructor",
    "documents/presetLibrary.cpp": "the preset browser's widgets",
    "documents/saveProjectOpts.cpp": "the save-project options dialog",
}

READ = re.compile(r"\boptionsInstance\b")
COMMENT = re.compile(r"^\s*//")


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    src = os.path.join(root, "src")
    problems = []
    used = set()
    for base, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            rel = os.path.relpath(os.path.join(base, name), src).replace(os.sep, "/")
            folder = rel.split("/")[0] if "/" in rel else None
            worker = "worker" in name.lower()
            if folder not in ENGINE_FOLDERS and not worker:
                continue
            with open(os.path.join(base, name), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    if COMMENT.match(line) or not READ.search(line):
                        continue
                    if rel in ALLOWED and not worker:
                        used.add(rel)
                        continue
                    problems.append("src/%s:%d: %s" % (rel, number, line.strip()))
    for entry in sorted(set(ALLOWED) - used):
        problems.append("allowed file no longer reads the settings, remove it: %s" % entry)
    if problems:
        print("Settings read where a worker may run (copy the value into the worker's job on the GUI thread):")
        for p in problems:
            print("  " + p)
        return 1
    print("check-settings-reads: no worker reads the settings record (%d GUI-thread files allowed)" % len(ALLOWED))
    return 0


if __name__ == "__main__":
    sys.exit(main())

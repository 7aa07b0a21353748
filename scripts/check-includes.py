#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own.

The folders under src/ form layers; a file may include headers of its own
folder and of the folders below it:

    platform < app < imageio < project < hdr < widgets < views < panels
             < dialogs (hdrdialogs, documents) < mainwindow (mainwindow, batch)

imageio (readers, writers, EXIF, the exiftool daemon) needs only app and
platform, and the project loads its photos through it, so it sits below the
project.

The few includes the design needs the other way are listed in ALLOWED with
the reason; anything else running upwards is reported with its file and line.
Usage: check-includes.py [repository folder]
"""

import os
import re
import sys

LAYERS = {
    "platform": 0,
    "app": 1,
    "imageio": 2,
    "project": 3,
    "hdr": 4,
    "widgets": 5,
    "views": 6,
    "panels": 7,
    "hdrdialogs": 8,
    "documents": 8,
    "mainwindow": 9,
    "batch": 9,
}

# (including file, included header): why the include runs upwards.
ALLOWED = {
    # The project owns the lens database (built once, kept for every lens
    # correction of the session).
    ("project/processingProject.cpp", "hdr/lensfunDb.h"):
        "the project owns the lens database",
    # Loading a ready HDR image runs the HDR engine's preprocessing (the
    # normalising curve and median) and its noise filter on it.
    ("project/processingProject_load.cpp", "hdr/generateHDRworker.h"):
        "loading an HDR image runs the HDR engine's preprocessing",
    # Turning and transforming the project's photos rewrites their session
    # files through the same checked file switch as the geometry stages.
    ("project/processingProject_transform.cpp", "hdr/geometryPhotoFiles.h"):
        "photo rotation rewrites the photo files like the geometry stages",
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    parts = path.split("/")
    return parts[0] if len(parts) > 1 else None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    src = os.path.join(root, "src")
    problems = []
    unknown = set()
    used = set()
    for base, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            rel = os.path.relpath(os.path.join(base, name), src).replace(os.sep, "/")
            own = folder_of(rel)
            if own is None:
                continue  # main.cpp sits above every folder
            if own not in LAYERS:
                unknown.add(own)
                continue
            with open(os.path.join(base, name), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = m.group(1)
                    other = folder_of(target)
                    if other not in LAYERS or LAYERS[other] <= LAYERS[own]:
                        continue
                    if (rel, target) in ALLOWED:
                        used.add((rel, target))
                        continue
                    problems.append("src/%s:%d: %s (%s) includes %s (%s)"
                                    % (rel, number, own, LAYERS[own], target, LAYERS[other]))
    for folder in sorted(unknown):
        problems.append("src/%s/: folder without a layer; add it to LAYERS in %s"
                        % (folder, os.path.relpath(__file__, root)))
    for entry in sorted(set(ALLOWED) - used):
        problems.append("allowed exception no longer needed, remove it: %s includes %s" % entry)
    if problems:
        print("Includes that run the wrong way (a folder may include only its own and lower layers):")
        for p in problems:
            print("  " + p)
        return 1
    print("check-includes: every include points down (%d allowed exceptions)" % len(ALLOWED))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Worst stack use of each public function with its callees, from GCC's
-fcallgraph-info=su files (.ci) of the library's objects.

    mcu_stack.py FILE.ci...

Each function's frame is its static stack use; a function's worst use is its
frame plus the worst of its callees', along the deepest path of the call
graph (the library has no recursion and no calls through pointers). Functions
of the C library and of libgcc (memcpy, memset, the division helpers) have no
.ci here and count 0: leaf functions of a few words at most."""
import re
import sys

NODE = re.compile(r'node: \{ title: "([^"]*)" label: "([^"]*)"')
EDGE = re.compile(r'edge: \{ sourcename: "([^"]*)" targetname: "([^"]*)"')
BYTES = re.compile(r'\\n(\d+) bytes \((static|dynamic[^)]*)\)')

PUBLIC = ["tga_info", "tga24_check", "tga24_to_sprite16", "tga_check", "tga_to_sprite16",
          "area_fill_16", "sprite_blit_16", "sprite_area_blit_16", "sprite_area_copy_be_16",
          "sprite_blit_alpha_16", "sprite_blit_key_16", "sprite_area_blit_key_16",
          "sprite_blit_a8_16", "sprite_area_blit_a8_16"]


def read(paths):
    frames, names, calls = {}, {}, {}
    for path in paths:
        with open(path) as f:
            text = f.read()
        for title, label in NODE.findall(text):
            found = BYTES.search(label)
            if found:
                if "static" not in found.group(2):
                    sys.exit("mcu_stack.py: %s has a frame of dynamic size" % title)
                frames[title] = int(found.group(1))
                names[title] = label.split("\\n")[0]
        for source, target in EDGE.findall(text):
            calls.setdefault(source, set()).add(target)
    return frames, names, calls


def worst(title, frames, calls, seen=()):
    if title in seen:
        sys.exit("mcu_stack.py: recursion through %s" % title)
    below = [worst(t, frames, calls, seen + (title,)) for t in calls.get(title, ())]
    return frames.get(title, 0) + max(below, default=0)


def main():
    frames, names, calls = read(sys.argv[1:])
    for public in PUBLIC:
        titles = [t for t, n in names.items() if n.split("(")[0].split()[-1] == public]
        if len(titles) != 1:
            sys.exit("mcu_stack.py: %s found %d times" % (public, len(titles)))
        print("%s %d" % (public, worst(titles[0], frames, calls)))


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# Makes the GIF fixtures of the GIF reader's tests once; the tests only read
# the committed files. Needs gifbuild (giflib-tools) and Debian's python3-pil.
set -euo pipefail
cd "$(dirname "$0")"

# Images of 16 and 4 colours made by gifbuild (minimum code sizes 4 and 2)
# and random images of 256 colours made by Pillow (code widths 9 to 12),
# each with the pixels Pillow reads back from it (*.raw: one palette index
# per pixel, row by row from the top-left).
/usr/bin/python3 - <<'PY'
import random
import subprocess
from PIL import Image

def read_back(name):
    with Image.open(name + ".gif") as back:
        open(name + ".raw", "wb").write(back.tobytes())

def gifbuild(name, width, height, colours, pixels):
    keys = "0123456789abcdef"[:colours]
    text = f"screen width {width}\nscreen height {height}\nscreen colors {colours}\nscreen map\n"
    text += "".join(f"\trgb {i * 7} {i * 13} {i * 29} is {keys[i]}\n" for i in range(colours))
    text += f"end\nimage\nimage bits {width} by {height}\n"
    text += "".join("".join(keys[p] for p in pixels[r * width:(r + 1) * width]) + "\n" for r in range(height))
    open(name + ".gif", "wb").write(subprocess.run(["gifbuild"], input=text.encode(), capture_output=True,
                                                   check=True).stdout)
    read_back(name)

def pillow(name, width, height, pixels, **options):
    image = Image.new("P", (width, height))
    image.putpalette([v for i in range(256) for v in (i, 255 - i, i * 7 % 256)])
    image.putdata(pixels)
    image.save(name + ".gif", **options)
    read_back(name)

random.seed(28)
gifbuild("colours16", 23, 7, 16, [(3 * i + i // 23) % 16 for i in range(23 * 7)])
gifbuild("colours4", 19, 5, 4, [(i * i // 5) % 4 for i in range(19 * 5)])
noise = [random.randrange(256) for _ in range(97 * 61)]
pillow("random_97x61", 97, 61, noise)  # interlaced, as Pillow saves images of this size
pillow("random_97x61_flat", 97, 61, noise, interlace=False)
PY
# Two images: the whole screen, then an interlaced frame of 3 x 5 pixels at
# left 4, top 1 that reaches past the screen's right and bottom edges, after
# a comment and a graphic control block.
gifbuild > frames.gif <<'TXT'
screen width 6
screen height 4
screen colors 16
screen map
	rgb 0 0 0 is 0
	rgb 1 1 1 is 1
	rgb 2 2 2 is 2
	rgb 3 3 3 is 3
	rgb 4 4 4 is 4
	rgb 5 5 5 is 5
	rgb 6 6 6 is 6
	rgb 7 7 7 is 7
	rgb 8 8 8 is 8
	rgb 9 9 9 is 9
	rgb 10 10 10 is a
	rgb 11 11 11 is b
	rgb 12 12 12 is c
	rgb 13 13 13 is d
	rgb 14 14 14 is e
	rgb 15 15 15 is f
end
image
image bits 6 by 4
123456
234567
345678
456789
comment
two frames
end
graphics control
	disposal mode 0
	delay 10
	transparent index 0
end
image
image left 4
image top 1
image interlaced
image bits 3 by 5
abc
bcd
cde
def
efa
TXT

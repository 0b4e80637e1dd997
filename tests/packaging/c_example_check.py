"""Input and check for the C example (examples/c/scale_png.c), with Pillow
as the reference:
    c_example_check.py make INPUT.png
    c_example_check.py check INPUT.png OUTPUT.png
`check` passes when OUTPUT is INPUT halved by 2 x 2 box averaging, each
component within 1 of Pillow's Image.reduce(2)."""
import sys

from PIL import Image

WIDTH, HEIGHT = 64, 48


def make(path):
    picture = Image.new("RGB", (WIDTH, HEIGHT))
    picture.putdata([((x * 4) % 256, (y * 5) % 256, (x * y) % 256) for y in range(HEIGHT) for x in range(WIDTH)])
    picture.save(path)


def check(source_path, scaled_path):
    expected = Image.open(source_path).convert("RGB").reduce(2)
    scaled = Image.open(scaled_path).convert("RGB")
    if scaled.size != expected.size:
        sys.exit("scaled size %s, expected %s" % (scaled.size, expected.size))
    worst = max(abs(a - b) for got, want in zip(scaled.getdata(), expected.getdata()) for a, b in zip(got, want))
    if worst > 1:
        sys.exit("scaled pixels differ from Pillow's by up to %d" % worst)
    print("scaled %dx%d, within %d of Pillow" % (scaled.size + (worst,)))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "check":
        check(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)

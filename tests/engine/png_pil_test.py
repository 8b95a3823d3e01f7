#!/usr/bin/env python3
"""PNGs that Duoscope writes must decode with PIL, whose PNG reader is its own, to exactly the
pixels libpng gives.

The PNGs: duoscope-cli's outputs of real pairs (when the shared test data is there) and random
images at awkward sizes through both of the writer's compressors (png_pixels writes those, and
libpng's pixels of every PNG beside it as NAME.rgb).

usage: png_pil_test.py PNG_PIXELS DUOSCOPE_CLI TESTDATA_DIR
Exits 77, which CTest reports as skipped, only when PIL is not installed.
"""
import os
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    print(f"SKIPPED: PIL is not installed for {sys.executable} "
          "(Debian package python3-pil; scripts/setup.sh installs it)")
    sys.exit(77)

# Output name, then duoscope-cli's arguments with the input files relative to the test data.
CLI_OUTPUTS = [
    ("night-color.png", ["render", "@pairs/night-street/left.jpg",
                         "@pairs/night-street/right.jpg", "--kind", "color", "--offset", "-7,3"]),
    ("night-grey.png", ["render", "@pairs/night-street/left.jpg",
                        "@pairs/night-street/right.jpg", "--kind", "grey"]),
    ("chessboard-stereogram.png", ["render", "@pairs/chessboard/left.jpg",
                                   "@pairs/chessboard/right.jpg", "--kind", "stereogram"]),
    ("gx8-color.png", ["render", "@mpo/panasonic-gx8.mpo", "--kind", "color"]),
    ("card-normalized.png", ["normalize", "@pairs/stereograph-card-sbs.jpg",
                             "--max-resolution", "1001"]),
]


def write_cli_outputs(cli, testdata, folder):
    written = 0
    for name, args in CLI_OUTPUTS:
        inputs = [os.path.join(testdata, a[1:]) for a in args if a.startswith("@")]
        if not all(os.path.isfile(p) for p in inputs):
            print(f"note: {name} not written, its input is not in {testdata}")
            continue
        argv = [cli] + [os.path.join(testdata, a[1:]) if a.startswith("@") else a
                        for a in args] + ["-o", os.path.join(folder, name)]
        subprocess.run(argv, check=True)
        written += 1
    return written


def first_difference(a, b, width):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            pixel = i // 3
            return f"pixel ({pixel % width}, {pixel // width}) channel {i % 3}: {x} != {y}"
    return f"lengths {len(a)} and {len(b)}"


def main():
    png_pixels, cli, testdata = sys.argv[1:4]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        from_cli = write_cli_outputs(cli, testdata, folder)
        subprocess.run([png_pixels, folder], check=True)
        names = sorted(n for n in os.listdir(folder) if n.endswith(".png"))
        for name in names:
            path = os.path.join(folder, name)
            with Image.open(path) as image:
                image.verify()  # every chunk's CRC and the chunk sequence up to IEND
            with Image.open(path) as image:
                if image.format != "PNG" or image.mode != "RGB":
                    failures.append(f"{name}: {image.format} {image.mode}, not 8-bit RGB PNG")
                    continue
                pixels = image.tobytes()
                width = image.width
            with open(path[:-4] + ".rgb", "rb") as f:
                expected = f.read()
            if pixels != expected:
                failures.append(f"{name}: {first_difference(pixels, expected, width)}")
    print(f"{len(names)} PNGs ({from_cli} from duoscope-cli) decoded by PIL {Image.__version__}")
    for failure in failures:
        print("MISMATCH " + failure)
    return 1 if failures or not names else 0


if __name__ == "__main__":
    sys.exit(main())

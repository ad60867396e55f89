#!/usr/bin/python3
"""Colour quality of true-colour pictures turned into 256-colour GIFs, side by
side with ImageMagick and pngquant. Prints a Markdown table of PSNR against the
source (dB; higher is better) and, for dithered output, PSNR after a 3x3 box
blur of both pictures (what the eye averages over).

Usage: bench/quality.py QUOLB_GIF [WORKDIR]
Needs: ImageMagick (convert), pngquant, python3-pil, python3-numpy,
python3-skimage (its photographs: astronaut, coffee, chelsea).
"""
import os
import subprocess
import sys

import numpy as np
from PIL import Image


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def sources(work):
    """name -> 24-bit BMP path."""
    out = {}

    def save(name, pixels):
        path = os.path.join(work, name + ".bmp")
        Image.fromarray(pixels.astype(np.uint8), "RGB").save(path)
        out[name] = path

    rose = os.path.join(work, "rose.bmp")
    run("convert", "rose:", "-scale", "300%", "-type", "truecolor", "BMP3:" + rose)
    out["rose x3"] = rose
    plasma = os.path.join(work, "plasma.bmp")
    run("convert", "-seed", "7", "-size", "256x256", "plasma:fractal", "-type", "truecolor", "BMP3:" + plasma)
    out["plasma 256"] = plasma
    i = np.arange(246)
    ramp = np.stack([i, (i * 2 + 7) % 256, 255 - i], axis=1)
    save("ramp 246", np.repeat(ramp[np.newaxis, :, :], 64, axis=0))
    from skimage import data
    for name in ("astronaut", "coffee", "chelsea"):
        save(name, getattr(data, name)())
    return out


def rgb(path):
    return np.asarray(Image.open(path).convert("RGB"), dtype=np.float64)


def psnr(a, b):
    mse = np.mean((a - b) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def blur(a):
    p = np.pad(a, ((1, 1), (1, 1), (0, 0)), mode="edge")
    h, w = a.shape[:2]
    return sum(p[y:y + h, x:x + w] for y in range(3) for x in range(3)) / 9.0


def main():
    exe = os.path.abspath(sys.argv[1])
    work = sys.argv[2] if len(sys.argv) > 2 else "/tmp/quolb-quality"
    os.makedirs(work, exist_ok=True)
    tools = [
        ("quolb-gif --no-dither", False, lambda s, o: run(exe, "-q", "--no-dither", "-o", o + ".gif", s)),
        ("convert -dither None -colors 256", False,
         lambda s, o: run("convert", s, "-dither", "None", "-colors", "256", o + ".gif")),
        ("pngquant --nofs", False, lambda s, o: run("pngquant", "--nofs", "--force", "-o", o + ".png", "256", s + ".png")),
        ("quolb-gif", True, lambda s, o: run(exe, "-q", "-o", o + ".gif", s)),
        ("convert (default)", True, lambda s, o: run("convert", s, o + ".gif")),
        ("pngquant (default)", True, lambda s, o: run("pngquant", "--force", "-o", o + ".png", "256", s + ".png")),
    ]
    print("| picture | " + " | ".join(name for name, _, _ in tools) + " |")
    print("|---" * (len(tools) + 1) + "|")
    for name, path in sources(work).items():
        Image.open(path).convert("RGB").save(path + ".png")
        source = rgb(path)
        cells = []
        for k, (tool, dithered, make) in enumerate(tools):
            out = os.path.join(work, "%s-%d" % (os.path.basename(path)[:-4], k))
            make(path, out)
            result = rgb(out + (".png" if tool.startswith("pngquant") else ".gif"))
            cell = "%.2f" % psnr(source, result)
            if dithered:
                cell += " / %.2f" % psnr(blur(source), blur(result))
            cells.append(cell)
        print("| %s (%d colours) | %s |" % (name, len(np.unique(source.reshape(-1, 3), axis=0)), " | ".join(cells)))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Pillow as a writer and a reader of the formats test's files.

pillow_files.py write MODE IN.pam OUT [OPTION=VALUE...]: writes the image IN (a PAM file) converted
to Pillow's MODE ("keep" for as it is; "P16" for a palette of 16 colours) as OUT, in the format
of OUT's extension, with Pillow's save options (numbers as numbers).

pillow_files.py raw IN PAGE OUT.pam: writes the raw samples that Pillow reads from page PAGE of
IN as a PAM file: a palette looked up, a 16-bit grey as 65535-maximum samples, a bitmap as 0 and 1.
"""
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, __file__.rsplit("/", 1)[0])
from grey_rule import read_pam  # noqa: E402


def from_pam(path):
    samples, maxval, tupltype = read_pam(path)
    v = (samples * 255 + maxval // 2) // maxval
    modes = {1: "L", 2: "LA", 3: "RGB", 4: "RGBA"}
    return Image.fromarray(v.astype(np.uint8).squeeze() if v.shape[2] == 1 else v.astype(np.uint8),
                           modes[v.shape[2]])


def write(mode, source, target, options):
    image = from_pam(source)
    if mode == "P16":
        image = image.convert("RGB").quantize(16)
    elif mode != "keep":
        image = image.convert(mode)
    kwargs = {}
    for option in options:
        key, value = option.split("=", 1)
        kwargs[key] = int(value) if value.lstrip("-").isdigit() else value
    image.save(target, **kwargs)


def raw(source, page, target):
    image = Image.open(source)
    image.seek(page)
    if image.mode == "P" and image.format == "TIFF":
        # The colour map as the file holds it, 16 bits a sample (Pillow's palette keeps 8).
        colours = np.array(image.tag_v2[320], dtype=np.int64).reshape(3, -1)
        samples = colours[:, np.asarray(image, dtype=np.int64)].transpose(1, 2, 0)
        return write_pam(target, samples, 65535, "RGB")
    if image.mode == "P":
        image = image.convert("RGBA" if "transparency" in image.info else "RGB")
    if image.mode in ("I;16", "I;16B", "I"):
        samples, maxval, tupltype = np.asarray(image, dtype=np.int64)[:, :, None], 65535, "GRAYSCALE"
    elif image.mode == "1":
        samples, maxval, tupltype = np.asarray(image, dtype=np.int64)[:, :, None], 1, "GRAYSCALE"
    else:
        types = {"L": "GRAYSCALE", "LA": "GRAYSCALE_ALPHA", "RGB": "RGB", "RGBA": "RGB_ALPHA"}
        tupltype = types[image.mode]
        samples = np.asarray(image, dtype=np.int64)
        if samples.ndim == 2:
            samples = samples[:, :, None]
        maxval = 255
    write_pam(target, samples, maxval, tupltype)


def write_pam(target, samples, maxval, tupltype):
    height, width, depth = samples.shape
    dtype = ">u2" if maxval > 255 else "u1"
    with open(target, "wb") as out:
        out.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n"
                  % (width, height, depth, maxval, tupltype.encode()))
        out.write(samples.astype(dtype).tobytes())


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:])
    else:
        raw(sys.argv[2], int(sys.argv[3]), sys.argv[4])

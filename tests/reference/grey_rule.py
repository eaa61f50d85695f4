#!/usr/bin/env python3
"""The documented grey rule, applied to a reference's raw samples.

grey_rule.py IN.pam OUT.pgm: IN is a PAM file (as netpbm's pamtopam writes, or pillow_files.py
raw) holding the raw samples that a reference decoder read; OUT is the 8-bit greymap those samples
make under the rule of charger_image_grise: each sample to 0-255 as (v * 255 + maxval // 2) //
maxval, an opacity composited on white ((c * a + 255 * (255 - a) + 127) // 255), and colour to
(19595 R + 38470 G + 7471 B + 32768) >> 16.
"""
import sys

import numpy as np


def read_pam(path):
    data = open(path, "rb").read()
    assert data[:3] == b"P7\n", "not a PAM file"
    at, fields, tupltype = 3, {}, ""
    while True:
        end = data.index(b"\n", at)
        line = data[at:end].decode().strip()
        at = end + 1
        if line == "ENDHDR":
            break
        if not line or line.startswith("#"):
            continue
        key, value = line.split(None, 1)
        if key == "TUPLTYPE":
            tupltype = value
        else:
            fields[key] = int(value)
    width, height, depth, maxval = (fields[k] for k in ("WIDTH", "HEIGHT", "DEPTH", "MAXVAL"))
    dtype = ">u2" if maxval > 255 else "u1"
    count = width * height * depth
    samples = np.frombuffer(data, dtype=dtype, count=count, offset=at)
    return samples.reshape(height, width, depth).astype(np.int64), maxval, tupltype


def grey(samples, maxval, tupltype):
    v = (samples * 255 + maxval // 2) // maxval
    if tupltype.endswith("_ALPHA") or (not tupltype and v.shape[2] in (2, 4)):
        a = v[:, :, -1:]
        v = (v[:, :, :-1] * a + 255 * (255 - a) + 127) // 255
    if v.shape[2] >= 3:
        return (19595 * v[:, :, 0] + 38470 * v[:, :, 1] + 7471 * v[:, :, 2] + 32768) >> 16
    return v[:, :, 0]


def main():
    samples, maxval, tupltype = read_pam(sys.argv[1])
    g = grey(samples, maxval, tupltype).astype(np.uint8)
    with open(sys.argv[2], "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (g.shape[1], g.shape[0]))
        out.write(g.tobytes())


if __name__ == "__main__":
    main()

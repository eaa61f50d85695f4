#!/usr/bin/env python3
"""Reference binarisations for the exactness test, by OpenCV and scikit-image.

Reads jobs from standard input, one a line: METHOD WINDOW K INPUT OUTPUT, where METHOD is otsu,
sauvola, niblack or wolf (WINDOW and K are ignored for otsu). Writes OUTPUT as a greymap of the
same size: 255 where the reference keeps the pixel white, 0 where black, and 128 where the pixel's
value is within 1e-9 of its threshold (either answer is right there). For otsu, prints OpenCV's
threshold on standard output, one line a job.
"""
import sys

import cv2
import numpy as np
from skimage.filters import threshold_niblack, threshold_sauvola
from skimage.filters.thresholding import _mean_std


def read_pgm(path):
    data = open(path, "rb").read()
    fields, at = [], 2
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while data[at:at + 1].isdigit():
            at += 1
        fields.append(int(data[start:at]))
    width, height, _ = fields
    raster = data[at + 1:at + 1 + width * height]
    return np.frombuffer(raster, dtype=np.uint8).reshape(height, width)


def write_pgm(path, pixels):
    with open(path, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (pixels.shape[1], pixels.shape[0]))
        out.write(np.ascontiguousarray(pixels, dtype=np.uint8).tobytes())


def decide(image, threshold):
    out = np.where(image > threshold, 255, 0).astype(np.uint8)
    out[np.abs(image - threshold) <= 1e-9] = 128
    return out


for line in sys.stdin:
    method, window, k, source, target = line.split()
    window, k = int(window), float(k)
    image = read_pgm(source)
    if method == "otsu":
        level, out = cv2.threshold(image, 0, 255, cv2.THRESH_BINARY + cv2.THRESH_OTSU)
        print(int(level))
    elif method == "sauvola":
        out = decide(image, threshold_sauvola(image, window_size=window, k=k))
    elif method == "niblack":
        out = decide(image, threshold_niblack(image, window_size=window, k=k))
    elif method == "wolf":
        m, s = _mean_std(image, window)
        rmax = s.max()
        if rmax == 0:
            out = np.full(image.shape, 255, dtype=np.uint8)
        else:
            out = decide(image, m - k * (1 - s / rmax) * (m - image.min()))
    else:
        sys.exit("unknown method " + method)
    write_pgm(target, out)

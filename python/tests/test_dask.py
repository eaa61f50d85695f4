"""imagefiles.dask gives exactly what imagefiles.binarize gives on the whole image."""

import numpy as np
import pytest

import imagefiles
from conftest import page, require

da = require("dask.array")
import imagefiles.dask  # noqa: E402

CHUNKS = [(61, 47), (7, 5), (13, 11), (3, 2), (30, (20, 1, 26))]  # one chunk, odd, below the window


@pytest.mark.parametrize("chunks", CHUNKS, ids=str)
@pytest.mark.parametrize(
    "method,window,k",
    [("auto", 15, None), ("otsu", 15, None), (100, 15, None)]
    + [(m, w, k) for m in ("sauvola", "niblack", "wolf") for w, k in ((3, 0.3), (15, None), (99, 0.6))],
)
def test_equals_the_whole_image(chunks, method, window, k):
    image = page(61, 47, seed=11)
    darray = da.from_array(image, chunks=chunks)
    got = imagefiles.dask.binarize(darray, method, window, k)
    assert got.chunks == darray.chunks and got.dtype == np.uint8
    np.testing.assert_array_equal(got.compute(scheduler="threads"), imagefiles.binarize(image, method, window, k))


def test_wolf_ties_and_a_uniform_image():
    """Several windows of the largest deviation, in several chunks; and an image with none."""
    tiles = np.tile(np.array([[0, 255], [255, 0]], np.uint8), (20, 20))
    tiles[::7, ::3] = 90
    flat = np.full((30, 30), 77, np.uint8)
    for image in (tiles, flat):
        got = imagefiles.dask.binarize(da.from_array(image, chunks=(9, 13)), "wolf", 5, 0.5)
        np.testing.assert_array_equal(got.compute(), imagefiles.binarize(image, "wolf", 5, 0.5))


@pytest.mark.parametrize(
    "darray,window,words",
    [(np.zeros((4, 4)), 15, "dtype"), (np.zeros((2, 4, 4), np.uint8), 15, "2-D"), (np.zeros((0, 4), np.uint8), 15, "empty"), (np.zeros((4, 4), np.uint8), 4, "window")],
)
def test_bad_input(darray, window, words):
    with pytest.raises(ValueError, match=words):
        imagefiles.dask.binarize(da.from_array(darray), "sauvola", window)

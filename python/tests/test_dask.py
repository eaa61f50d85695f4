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


@pytest.mark.parametrize("shape,chunks", [((400, 333), (64, 50)), ((400, 333), (97, (300, 33))), ((1, 500), (1, 40)), ((300, 1), (7, 1))], ids=str)
def test_auto_in_blocks_over_many_paper_blocks(shape, chunks):
    """auto's paper varies over the page: each chunk is decided with the page's paper where it lies."""
    image = page(*shape, seed=5)
    got = imagefiles.dask.binarize(da.from_array(image, chunks=chunks), "auto")
    assert got.npartitions > 1
    np.testing.assert_array_equal(got.compute(scheduler="threads"), imagefiles.binarize(image, "auto"))


def test_auto_pages_passes_in_order():
    """The statistics refuse bands out of order, and a decision before the passes."""
    statistics = imagefiles._imagefiles._AutoPage(4, 3)
    band = np.zeros((2, 3), np.uint8)
    with pytest.raises(ValueError):
        statistics.decide(band, 0, 0)
    with pytest.raises(ValueError):
        statistics.gather(0, 2, band)
    statistics.gather(0, 0, band)
    with pytest.raises(ValueError):
        statistics.end(0)
    with pytest.raises(ValueError):
        statistics.gather(0, 2, np.zeros((2, 4), np.uint8))


def test_auto_statistics_travel_by_pickle():
    """What auto's passes learnt goes to another process as bytes, and nothing else comes back."""
    import pickle

    image = page(200, 150, seed=8)
    learnt = imagefiles.dask._auto_statistics(da.from_array(image, chunks=(70, 150)))
    state = learnt.__getstate__()
    copy = pickle.loads(pickle.dumps(learnt))
    np.testing.assert_array_equal(copy.decide(image, 0, 0), imagefiles.binarize(image, "auto"))
    assert copy.window == learnt.window
    rows, columns, data = state
    spoilt = [
        (rows + 1, columns, data),  # another page
        (rows, columns, data[:-1]),  # cut
        (rows, columns, data + b"\0"),  # too long
        (rows, columns, b"auto v1" + data[7:]),  # another layout (the one before the faint strokes' reach)
        (rows, columns, data[:24] + (int.from_bytes(data[24:28], "little") + 1).to_bytes(4, "little") + data[28:]),  # a grid row more
    ]
    for bad in spoilt:
        with pytest.raises(ValueError):
            learnt.__class__.__new__(learnt.__class__).__setstate__(bad)


def test_auto_on_a_cluster_of_processes():
    """The statistics reach workers in other processes: the same pixels as the whole image."""
    distributed = require("distributed")
    image = page(300, 260, seed=4)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster):
            got = imagefiles.dask.binarize(da.from_array(image, chunks=(90, 100)), "auto").compute()
    np.testing.assert_array_equal(got, imagefiles.binarize(image, "auto"))


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

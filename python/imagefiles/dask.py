"""Binarisation of chunked 2-D dask arrays, giving exactly the array that imagefiles.binarize gives
on the whole image.

The local methods ("sauvola", "niblack", "wolf") see each chunk with window // 2 pixels of its
neighbours around it (dask.array.map_overlap); at the image's own edges the library mirrors the
image as it does for the whole, since a chunk there holds the rows and columns that the mirror
reads. Chunks narrower than window // 2 are first merged with their neighbours. The global parts are
computed in two passes: Otsu's level from the chunks' histograms summed, Wolf's smallest sample and
largest deviation from each chunk's own. The automatic method's estimates of the page (its scale,
its paper, its histogram) need its rows in order: binarize computes the array a band of chunks at a
time for each of those passes before it returns (the input is computed that many times, in the
memory of one band), and each chunk is then decided with its neighbours' window // 2 around it, as
the local methods are; what the passes learnt (a grid of the paper's brightness, a few numbers)
goes with the tasks, to a distributed cluster's workers too.
"""

import uuid

import dask
import dask.array as da
import numpy as np
from dask.array.overlap import ensure_minimum_chunksize, overlap

from . import _imagefiles as _c
from ._errors import ImageValueError, Status

__all__ = ["binarize"]


def binarize(darray, method="auto", window=15, k=None):
    """binarize(darray, method="auto", window=15, k=None) -> dask.array.Array

    The lazy equivalent of imagefiles.binarize(darray.compute(), method, window, k) on a 2-D uint8
    dask array, equal to it pixel for pixel, in the same chunks. Arguments are checked at once, with
    imagefiles.binarize's exceptions.
    """
    if not isinstance(darray, da.Array):
        darray = da.asarray(darray)
    if darray.dtype != np.uint8:
        raise _refused("the image must have dtype uint8, not %s" % darray.dtype)
    if darray.ndim != 2:
        raise _refused("the image must be 2-D (rows, columns), not %d-D" % darray.ndim)
    if 0 in darray.shape:
        raise _refused("the image is empty", Status.TAILLE_HORS_LIMITES)
    # The arguments, checked on a pixel.
    _c.binarize(np.zeros((1, 1), np.uint8), method, window, k)
    meta = np.empty((0, 0), np.uint8)

    if isinstance(method, (int, np.integer)):
        return darray.map_blocks(_c.binarize, int(method), dtype=np.uint8, meta=meta)
    if method == "otsu":
        counts = [dask.delayed(_c._histogram)(b) for b in darray.to_delayed().ravel()]
        level = dask.delayed(_otsu_level)(counts)
        return darray.map_blocks(_fixed, level=level, dtype=np.uint8, meta=meta)
    if method == "auto":
        page = _auto_statistics(darray)
        window = page.window
    half = int(window) // 2
    chunks, depth = _with_overlap(darray, half)
    x = darray.rechunk(chunks)
    common = dict(depth=depth, boundary="none", trim=False, chunks=x.chunks, dtype=np.uint8, meta=meta)
    if method == "auto":
        starts = tuple(np.cumsum((0,) + c[:-1]) for c in x.chunks)
        # One key of the graph: a cluster sends it to each worker once, not with every chunk.
        learnt = dask.delayed(page, name="imagefiles-auto-" + uuid.uuid4().hex, traverse=False)
        result = x.map_overlap(_auto_block, page=learnt, starts=starts, half=depth, **common)
    elif method == "wolf":
        k = 0.5 if k is None else k
        extended = overlap(x, depth=depth, boundary="none").to_delayed()
        starts = [np.cumsum((0,) + c[:-1]) for c in x.chunks]
        parts = [
            dask.delayed(_wolf_part)(extended[i, j], window, depth, (i, j), x.numblocks, (starts[0][i], starts[1][j]))
            for i in range(x.numblocks[0])
            for j in range(x.numblocks[1])
        ]
        whole = dask.delayed(_wolf_whole)(parts, window)
        result = x.map_overlap(_wolf_block, window=window, k=k, whole=whole, half=depth, **common)
    else:
        result = x.map_overlap(_local_block, method=method, window=window, k=k, half=depth, **common)
    return result if result.chunks == darray.chunks else result.rechunk(darray.chunks)


def _auto_statistics(darray):
    """The automatic method's passes over the rows of the page, a band of chunks at a time."""
    page = _c._AutoPage(*darray.shape)
    edges = np.cumsum((0,) + darray.chunks[0])
    for step in range(page.passes):
        for first, last in zip(edges[:-1], edges[1:]):
            page.gather(step, int(first), np.asarray(darray[first:last].compute()))
        page.end(step)
    return page


def _auto_block(block, page, starts, half, block_info=None):
    info = block_info[0]
    (i, j), count = info["chunk-location"], info["num-chunks"]
    top, bottom, left, right = _inner(block, half, (i, j), count)
    # The extended block's place in the page: its chunk's, less what the neighbours above and to
    # the left lent.
    return page.decide(block, int(starts[0][i]) - top, int(starts[1][j]) - left)[top:bottom, left:right]


def _refused(message, status=Status.PARAMETRE_INVALIDE):
    error = ImageValueError(message)
    error.status = status
    return error


def _with_overlap(x, half):
    """The chunks and the depth along each axis: chunks at least `half` wide where there are
    several, and an axis of one chunk needs none."""
    chunks, depth = [], {}
    for axis, c in enumerate(x.chunks):
        if half == 0 or len(c) == 1 or sum(c) <= half:
            c = (sum(c),)
        else:
            c = ensure_minimum_chunksize(half, c)
        chunks.append(c)
        depth[axis] = 0 if len(c) == 1 else half
    return tuple(chunks), depth


def _inner(block, half, location, count):
    """Where a chunk lies within its extended block: the rows and columns that its neighbours lent
    are cut off; at the image's edges nothing was added."""
    (i, j), (n, m) = location, count
    top = 0 if i == 0 else half[0]
    left = 0 if j == 0 else half[1]
    bottom = block.shape[0] - (0 if i == n - 1 else half[0])
    right = block.shape[1] - (0 if j == m - 1 else half[1])
    return top, bottom, left, right


def _local_block(block, method, window, k, half, block_info=None):
    info = block_info[0]
    top, bottom, left, right = _inner(block, half, info["chunk-location"], info["num-chunks"])
    return _c.binarize(block, method, window, k)[top:bottom, left:right]


def _fixed(block, level):
    return _c.binarize(block, level)


def _otsu_level(counts):
    return _c._otsu_of_histogram(np.sum(counts, axis=0, dtype=np.uint64))


def _wolf_part(block, window, half, location, count, start):
    """A chunk's smallest sample and widest window, the latter placed in the whole image."""
    top, bottom, left, right = _inner(block, half, location, count)
    spread, total, squares, row, column = _c._widest_window(
        block, window, top, left, bottom - top, right - left
    )
    place = (int(start[0]) + row, int(start[1]) + column)
    return int(block[top:bottom, left:right].min()), (spread, place, total, squares, row, column)


def _wolf_whole(parts, window):
    """The image's smallest sample and largest deviation: the widest window of all, the first in
    row order among equal ones, as one pass over the whole image finds it."""
    minimum = min(p[0] for p in parts)
    widest = min((p[1] for p in parts), key=lambda w: (-w[0], w[1]))
    spread, _, total, squares, row, column = widest
    return minimum, _c._deviation_of((spread, total, squares, row, column), window)


def _wolf_block(block, window, k, whole, half, block_info=None):
    info = block_info[0]
    top, bottom, left, right = _inner(block, half, info["chunk-location"], info["num-chunks"])
    minimum, deviation = whole
    return _c._binarize_wolf_given(block, window, k, minimum, deviation)[top:bottom, left:right]

"""imagefiles: image files (Netpbm, PNG, TIFF and JPEG read as grey; greymaps and bitmaps
written) and binarisation (fixed, Otsu, Sauvola, Niblack, Wolf, auto) on 2-D uint8 numpy arrays,
over the C library of the same name.

    >>> import numpy as np, imagefiles
    >>> page = np.full((64, 64), 200, np.uint8); page[20:40, 10:50] = 30
    >>> black_and_white = imagefiles.binarize(page, "sauvola", window=15, k=0.2)

Every function reads its array in place (a non-contiguous one is copied once), releases the
interpreter's lock while it computes, and may be called from several threads at once. Failures
raise ImageError subclasses of OSError, ValueError and MemoryError with the library's `.status`.
imagefiles.dask binarises chunked dask arrays exactly as a whole; imagefiles.batch binarises many
files on a dask.distributed cluster.
"""

from ._errors import (
    ImageError,
    ImageFileNotFoundError,
    ImageIsADirectoryError,
    ImageMemoryError,
    ImageOSError,
    ImagePermissionError,
    ImageValueError,
    Status,
)
from ._imagefiles import (
    __version__,
    binarize,
    count_pages,
    read,
    suggested_window,
    threshold_otsu,
    write,
    write_bitmap,
)

METHODS = ("auto", "otsu", "sauvola", "niblack", "wolf")

__all__ = [
    "METHODS",
    "ImageError",
    "ImageFileNotFoundError",
    "ImageIsADirectoryError",
    "ImageMemoryError",
    "ImageOSError",
    "ImagePermissionError",
    "ImageValueError",
    "Status",
    "__version__",
    "binarize",
    "count_pages",
    "read",
    "suggested_window",
    "threshold_otsu",
    "write",
    "write_bitmap",
]

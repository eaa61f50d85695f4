from typing import Optional

import dask.array as da

from . import Method

def binarize(
    darray: da.Array, method: Method = "auto", window: int = 15, k: Optional[float] = None
) -> da.Array:
    """imagefiles.binarize on a chunked 2-D uint8 dask array, equal to it on the whole image."""

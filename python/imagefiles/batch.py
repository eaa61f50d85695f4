"""Many files binarised on a dask.distributed cluster: each greymap read, binarised and written
with the library's writer, which puts a file in place only once it is whole. A file that fails is
reported with its error while the others are written; a run started again skips the outputs that a
previous one completed.

    from dask.distributed import Client
    from imagefiles.batch import binarize_files
    with Client("tcp://scheduler:8786") as client:      # or Client() for this machine's cores
        for outcome in binarize_files(pages, "out", method="sauvola", client=client):
            if outcome.state == "failed":
                print(outcome.source, outcome.error)
"""

import os
from dataclasses import dataclass
from typing import Optional

from . import _imagefiles as _c

__all__ = ["Outcome", "binarize_file", "binarize_files", "output_name"]


@dataclass(frozen=True)
class Outcome:
    """What became of one input: state "written", "skipped" (its output was complete already) or
    "failed", with the error as "<exception type>: <message>"."""

    source: str
    target: str
    state: str
    error: Optional[str] = None


def output_name(source, folder, bitmap=False):
    """The output of `source` in `folder`: its name with the extension .pgm (.pbm for a bitmap)."""
    stem = os.path.splitext(os.path.basename(os.fspath(source)))[0]
    return os.path.join(os.fspath(folder), stem + (".pbm" if bitmap else ".pgm"))


def _complete(source, target):
    """Whether `target` is the complete output of `source`: the writer renames a file into place
    only once every byte is written, so an output that exists is whole; one older than its source
    is out of date."""
    try:
        made = os.stat(target)
        return made.st_size > 0 and made.st_mtime_ns >= os.stat(source).st_mtime_ns
    except OSError:
        return False


def binarize_file(source, target, method="auto", window=15, k=None, bitmap=False):
    """Binarises the greymap `source` into `target` (a greymap, or a bitmap with bitmap=True),
    unless `target` is complete already. Returns an Outcome; a failure of the file is returned, not
    raised."""
    source, target = os.fspath(source), os.fspath(target)
    if _complete(source, target):
        return Outcome(source, target, "skipped")
    try:
        image = _c.read(source)
        _c.binarize(image, method, window, k, out=image)
        (_c.write_bitmap if bitmap else _c.write)(target, image)
    except (OSError, ValueError, MemoryError) as error:
        return Outcome(source, target, "failed", "%s: %s" % (type(error).__name__, error))
    return Outcome(source, target, "written")


def binarize_files(sources, folder, method="auto", window=15, k=None, bitmap=False, client=None):
    """Binarises every greymap of `sources` into `folder` (created if need be), one task a file on
    the dask.distributed cluster of `client` (a Client, a scheduler's address, or None for the
    current client), and returns their Outcomes in the order of `sources`. Two sources that would
    have the same output are refused (ValueError) before anything is done."""
    from dask.distributed import Client, get_client

    sources = [os.fspath(s) for s in sources]
    targets = [output_name(s, folder, bitmap) for s in sources]
    seen = {}
    for source, target in zip(sources, targets):
        if target in seen:
            raise ValueError("%s and %s would both be written as %s" % (seen[target], source, target))
        seen[target] = source
    os.makedirs(folder, exist_ok=True)
    own = isinstance(client, str)
    client = Client(client) if own else (client or get_client())
    try:
        futures = client.map(
            binarize_file, sources, targets, method=method, window=window, k=k, bitmap=bitmap, pure=False
        )
        return client.gather(futures)
    finally:
        if own:
            client.close()

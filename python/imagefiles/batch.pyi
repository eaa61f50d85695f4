import os
from typing import Iterable, Optional, Union

from dask.distributed import Client

from . import Method, _Path

class Outcome:
    source: str
    target: str
    state: str
    error: Optional[str]
    def __init__(self, source: str, target: str, state: str, error: Optional[str] = ...) -> None: ...

def output_name(source: _Path, folder: _Path, bitmap: bool = False) -> str: ...
def binarize_file(
    source: _Path,
    target: _Path,
    method: Method = "auto",
    window: int = 15,
    k: Optional[float] = None,
    bitmap: bool = False,
) -> Outcome: ...
def binarize_files(
    sources: Iterable[_Path],
    folder: _Path,
    method: Method = "auto",
    window: int = 15,
    k: Optional[float] = None,
    bitmap: bool = False,
    client: Union[Client, str, None] = None,
) -> list[Outcome]: ...

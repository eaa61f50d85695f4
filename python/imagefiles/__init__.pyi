import enum
import os
from typing import Literal, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str
METHODS: tuple[str, ...]

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Image = npt.NDArray[np.uint8]
Method = Union[Literal["auto", "otsu", "sauvola", "niblack", "wolf"], int]

class Status(enum.IntEnum):
    OK = 0
    PAS_D_ACCES_EN_LECTURE = 1
    ERREUR_DE_LECTURE = 2
    PAS_D_ACCES_EN_ECRITURE = 3
    ERREUR_D_ECRITURE = 4
    PAS_PGM = 5
    PAS_PPM = 6
    SEIZE_BITS = 7
    TAILLE_HORS_LIMITES = 8
    TAMPON_TROP_PETIT = 9
    PARAMETRE_INVALIDE = 10
    MEMOIRE_INSUFFISANTE = 11
    DESCRIPTEURS_EPUISES = 12
    PAS_PBM = 13
    FORMAT_NON_PRIS_EN_CHARGE = 14
    VARIANTE_NON_PRISE_EN_CHARGE = 15
    DONNEES_ENDOMMAGEES = 16
    FORMAT_INCONNU = 17
    PAGE_ABSENTE = 18

class ImageError(Exception):
    status: Status

class ImageOSError(ImageError, OSError): ...
class ImageValueError(ImageError, ValueError): ...
class ImageMemoryError(ImageError, MemoryError): ...
class ImageFileNotFoundError(ImageOSError, FileNotFoundError): ...
class ImagePermissionError(ImageOSError, PermissionError): ...
class ImageIsADirectoryError(ImageOSError, IsADirectoryError): ...

def threshold_otsu(a: _Image) -> int:
    """Otsu's threshold of a 2-D uint8 array, for binarize(a, t): OpenCV's level + 1."""

def suggested_window(a: _Image) -> int:
    """The odd window for a local method on this page, from the size of its writing (3 to 255)."""

def binarize(
    a: _Image,
    method: Method = "auto",
    window: int = 15,
    k: Optional[float] = None,
    out: Optional[_Image] = None,
) -> _Image:
    """Binarises a 2-D uint8 array into 0 and 255; out may be a (in place)."""

def read(path: _Path, page: int = 0) -> _Image:
    """Reads page `page` of a Netpbm, PNG, TIFF or JPEG file as grey into a new 2-D uint8 array."""

def count_pages(path: _Path) -> int:
    """The number of images in a file: a TIFF's pages, 1 for the other formats."""

def write(path: _Path, a: _Image) -> None:
    """Writes a 2-D uint8 array as a binary greymap file, replacing it whole."""

def write_bitmap(path: _Path, a: _Image) -> None:
    """Writes a 2-D uint8 array as a bitmap (P4) file: samples below 128 black."""

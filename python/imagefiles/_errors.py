"""The exceptions of imagefiles: each is an ImageError, with the library's status, and the built-in
exception a Python program expects (OSError for files, ValueError for arguments, MemoryError)."""

import enum
import errno as _errno


class Status(enum.IntEnum):
    """The statuses of the C library's functions (statut_image), without their IMAGE_ prefix."""

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


_TEXTS = {
    Status.PAS_D_ACCES_EN_LECTURE: "cannot be opened for reading",
    Status.ERREUR_DE_LECTURE: "ends before its header or raster does, or cannot be read",
    Status.PAS_D_ACCES_EN_ECRITURE: "cannot be created or written",
    Status.ERREUR_D_ECRITURE: "could not be written whole (it is as it was)",
    Status.PAS_PGM: "is not an 8-bit binary greymap (P5)",
    Status.PAS_PPM: "is not an 8-bit binary colour image (P6)",
    Status.SEIZE_BITS: "has 16-bit samples",
    Status.TAILLE_HORS_LIMITES: "size out of bounds (a dimension below 1, or beyond 2,147,483,647 bytes)",
    Status.TAMPON_TROP_PETIT: "buffer too small",
    Status.PARAMETRE_INVALIDE: "invalid argument",
    Status.MEMOIRE_INSUFFISANTE: "not enough memory",
    Status.DESCRIPTEURS_EPUISES: "no file descriptor left",
    Status.PAS_PBM: "is not a bitmap (P4 or P1)",
    Status.FORMAT_NON_PRIS_EN_CHARGE: "is in a format this build of the library was made without",
    Status.VARIANTE_NON_PRISE_EN_CHARGE: "is a variant of its format that is not read (CMYK, floating-point samples, separate planes)",
    Status.DONNEES_ENDOMMAGEES: "is damaged (a bad checksum, compressed data that does not decode, a sample above its maximum)",
    Status.FORMAT_INCONNU: "is in no format read (Netpbm, PNG, TIFF, JPEG)",
    Status.PAGE_ABSENTE: "has no page of that number",
}


class ImageError(Exception):
    """Base of imagefiles' exceptions. `status` is the library's Status."""

    status: Status = Status.PARAMETRE_INVALIDE


class ImageOSError(ImageError, OSError):
    """A file that cannot be read or written: `errno` (None when the file itself is at fault, as
    one that is damaged or in no format read), `strerror`, `filename` and `status`."""

    def __str__(self):
        if self.errno is None:
            return "%r %s" % (self.filename, self.strerror)
        return OSError.__str__(self)


class ImageValueError(ImageError, ValueError):
    """A bad argument: dtype, dimensions, window, k, out, a page the file does not have."""


class ImageMemoryError(ImageError, MemoryError):
    """The memory an operation needs cannot be had."""


class ImageFileNotFoundError(ImageOSError, FileNotFoundError):
    """The file does not exist."""


class ImagePermissionError(ImageOSError, PermissionError):
    """The file or its folder may not be read or written."""


class ImageIsADirectoryError(ImageOSError, IsADirectoryError):
    """The name is a folder's."""


_BY_ERRNO = {
    _errno.ENOENT: ImageFileNotFoundError,
    _errno.EACCES: ImagePermissionError,
    _errno.EPERM: ImagePermissionError,
    _errno.EISDIR: ImageIsADirectoryError,
}


def _from_status(status, error, path, message):
    """The exception for a failure of the binding (called from the C++ module)."""
    status = Status(status)
    if status == Status.MEMOIRE_INSUFFISANTE:
        exception = ImageMemoryError(message or _TEXTS[status])
    elif status == Status.PAGE_ABSENTE:
        # The file is as it should be; the page asked of it is not.
        exception = ImageValueError("%r %s" % (path, _TEXTS[status]))
    elif path is not None:
        text = _TEXTS.get(status, status.name)
        if error:
            import os

            text = "%s: %s" % (os.strerror(error), text)
        exception = _BY_ERRNO.get(error, ImageOSError)(error or None, text, path)
    else:
        exception = ImageValueError(message or _TEXTS.get(status, status.name))
    exception.status = status
    return exception

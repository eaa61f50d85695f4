"""imagefiles.read and count_pages on every format: files made by Pillow, read as the grey that the
library's rule makes of the raw samples Pillow reads from them (the references of the C++ formats
test); named pipes through a temporary copy that does not outlive the call; damaged files refused."""

import io
import os
import sys
import threading

import numpy as np
import pytest

import imagefiles
from conftest import page, require

REFERENCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "reference")


def references():
    """The reference modules: Pillow's raw samples, and the grey rule."""
    require("PIL.Image")
    if REFERENCE not in sys.path:
        sys.path.insert(0, REFERENCE)
    import grey_rule
    import pillow_files

    return grey_rule, pillow_files


def expected_grey(path, page_number, work):
    grey_rule, pillow_files = references()
    pam = os.path.join(work, "reference.pam")
    pillow_files.raw(str(path), page_number, pam)
    return grey_rule.grey(*grey_rule.read_pam(pam)).astype(np.uint8)


def picture(mode, rows=37, columns=53, seed=0):
    """A Pillow image of `mode` from test pages: a channel a page, 16-bit samples over their whole
    range, an opacity that goes from clear to opaque."""
    Image = require("PIL.Image")
    if mode in ("I;16", "I"):
        samples = np.random.default_rng(seed).integers(0, 65536, (rows, columns), dtype=np.uint16)
        image = Image.fromarray(samples)
        return image.convert("I") if mode == "I" else image
    channels = {"L": 1, "1": 1, "P": 3, "RGB": 3, "RGBA": 4, "CMYK": 3}[mode]
    planes = [page(rows, columns, seed=seed + c) for c in range(channels)]
    if mode == "RGBA":
        planes[3] = np.linspace(0, 255, rows * columns).reshape(rows, columns).astype(np.uint8)
    image = Image.fromarray(planes[0] if channels == 1 else np.dstack(planes))
    if mode == "P":
        return image.quantize(16)
    return image if mode in ("L", "RGB", "RGBA") else image.convert(mode)


# name, extension, Pillow's mode, Pillow's save options.
FILES = [
    ("png grey 8", "png", "L", {}),
    ("png grey 16", "png", "I;16", {}),
    ("png rgba", "png", "RGBA", {}),
    ("png palette", "png", "P", {}),
    ("tiff rgb lzw", "tif", "RGB", {"compression": "tiff_lzw"}),
    ("tiff grey 16", "tif", "I;16", {}),
    ("tiff group 4", "tif", "1", {"compression": "group4"}),
    ("jpeg colour", "jpg", "RGB", {"quality": 85}),
    ("jpeg grey", "jpg", "L", {}),
    ("colour pixmap", "ppm", "RGB", {}),
    ("16-bit greymap", "pgm", "I", {}),
]


@pytest.mark.parametrize("extension,mode,options", [f[1:] for f in FILES], ids=[f[0] for f in FILES])
def test_read_as_the_grey_rule_makes_pillows_samples(tmp_path, extension, mode, options):
    path = tmp_path / ("f." + extension)
    picture(mode).save(path, **options)
    np.testing.assert_array_equal(imagefiles.read(path), expected_grey(path, 0, tmp_path))
    assert imagefiles.count_pages(path) == 1


def test_pages_of_a_tiff(tmp_path):
    Image = require("PIL.Image")
    path = tmp_path / "pages.tif"
    first, *others = [picture("L", seed=1), picture("RGB", 20, 31, seed=2), picture("1", 9, 70, seed=3)]
    first.save(path, save_all=True, append_images=others, compression="tiff_deflate")
    pages = imagefiles.count_pages(path)
    assert pages == Image.open(path).n_frames
    for number in range(pages):
        np.testing.assert_array_equal(imagefiles.read(path, number), expected_grey(path, number, tmp_path))
    np.testing.assert_array_equal(imagefiles.read(path, page=np.int64(1)), expected_grey(path, 1, tmp_path))
    for missing in (pages, -1, 2**70):
        with pytest.raises(imagefiles.ImageValueError, match="no page") as raised:
            imagefiles.read(path, missing)
        assert raised.value.status == imagefiles.Status.PAGE_ABSENTE


def through_a_pipe(tmp_path, content, call):
    """`call` on a named pipe that a thread fills with `content`."""
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    writer = threading.Thread(target=lambda: fifo.write_bytes(content), daemon=True)
    writer.start()
    try:
        return call(fifo)
    finally:
        writer.join(10)
        assert not writer.is_alive()
        fifo.unlink()


@pytest.mark.parametrize("extension,mode,options", [("png", "RGBA", {}), ("tif", "RGB", {"compression": "tiff_lzw"}), ("jpg", "L", {})])
def test_named_pipes_are_read_through_a_copy_that_is_removed(tmp_path, monkeypatch, extension, mode, options):
    temporary = tmp_path / "temporary"
    temporary.mkdir()
    monkeypatch.setenv("TMPDIR", str(temporary))
    content = io.BytesIO()
    picture(mode).save(content, format={"png": "PNG", "tif": "TIFF", "jpg": "JPEG"}[extension], **options)
    path = tmp_path / ("f." + extension)
    path.write_bytes(content.getvalue())
    np.testing.assert_array_equal(through_a_pipe(tmp_path, content.getvalue(), imagefiles.read), imagefiles.read(path))
    assert through_a_pipe(tmp_path, content.getvalue(), imagefiles.count_pages) == 1
    assert os.listdir(temporary) == []


def damaged_png():
    """A PNG with one byte of its compressed data changed: its checksum no longer holds."""
    content = io.BytesIO()
    picture("L").save(content, format="PNG")
    data = bytearray(content.getvalue())
    data[data.index(b"IDAT") + 20] ^= 0xFF
    return bytes(data)


def cmyk_jpeg():
    content = io.BytesIO()
    picture("CMYK").save(content, format="JPEG")
    return content.getvalue()


# name, the file's bytes (a function: Pillow is imported by the test), status.
UNREADABLE = [
    ("empty", lambda: b"", "ERREUR_DE_LECTURE"),
    ("raster cut short", lambda: b"P5\n4 4\n255\n\x00", "ERREUR_DE_LECTURE"),
    ("unknown format", lambda: b"GIF89a" + bytes(40), "FORMAT_INCONNU"),
    ("png cut in its magic", lambda: b"\x89PN", "ERREUR_DE_LECTURE"),
    ("png with a bad checksum", damaged_png, "DONNEES_ENDOMMAGEES"),
    ("cmyk jpeg", cmyk_jpeg, "VARIANTE_NON_PRISE_EN_CHARGE"),
]


@pytest.mark.parametrize("via", ["file", "named pipe"])
@pytest.mark.parametrize("make,status", [u[1:] for u in UNREADABLE], ids=[u[0] for u in UNREADABLE])
def test_files_that_cannot_be_read(tmp_path, monkeypatch, via, make, status):
    temporary = tmp_path / "temporary"
    temporary.mkdir()
    monkeypatch.setenv("TMPDIR", str(temporary))
    content = make()
    path = tmp_path / "bad"
    path.write_bytes(content)

    def refused(name):
        with pytest.raises(imagefiles.ImageOSError) as raised:
            imagefiles.read(name)
        assert raised.value.status == imagefiles.Status[status]
        assert raised.value.filename == name and raised.value.errno is None
        return True

    assert refused(path) if via == "file" else through_a_pipe(tmp_path, content, refused)
    assert sorted(os.listdir(tmp_path)) == ["bad", "temporary"] and os.listdir(temporary) == []

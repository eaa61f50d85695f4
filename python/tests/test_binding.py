"""imagefiles on numpy arrays: exact against OpenCV, scikit-image and the library's own command;
bad input refused with a clear exception; files read and written as the image tools see them."""

import errno
import os
import subprocess
import threading

import numpy as np
import pytest

import imagefiles
from conftest import page, require

SIZES = [(1, 1), (1, 9), (7, 1), (5, 6), (40, 33), (97, 130)]


def reference_decision(image, threshold, ours):
    """Where the reference's pixel is within 1e-9 of its threshold, either answer is right (the
    references compute m and s by other roundings): there it takes ours."""
    expected = np.where(image > threshold, 255, 0).astype(np.uint8)
    near = np.abs(image - threshold) <= 1e-9
    expected[near] = ours[near]
    return expected


@pytest.mark.parametrize("shape", SIZES)
@pytest.mark.parametrize(
    "method,window,k",
    [("otsu", 15, None)]
    + [(m, w, k) for m in ("sauvola", "niblack") for w, k in ((3, 0.2), (15, 0.5), (31, -0.3), (101, 0.05))],
)
def test_equals_opencv_and_scikit_image(shape, method, window, k):
    cv2 = require("cv2")
    filters = require("skimage.filters")
    image = page(*shape, seed=shape[0] * 1000 + shape[1])
    ours = imagefiles.binarize(image, method, window=window, k=k)
    if method == "otsu":
        level, expected = cv2.threshold(image, 0, 255, cv2.THRESH_BINARY + cv2.THRESH_OTSU)
        if shape != (1, 1):  # OpenCV does not split a one-pixel image
            assert imagefiles.threshold_otsu(image) == int(level) + 1
            np.testing.assert_array_equal(ours, expected)
        return
    skimage_threshold = filters.threshold_sauvola if method == "sauvola" else filters.threshold_niblack
    threshold = skimage_threshold(image, window_size=window, k=k)
    np.testing.assert_array_equal(ours, reference_decision(image, threshold, ours))


@pytest.mark.parametrize("shape", [(1, 1), (9, 4), (61, 47)])
@pytest.mark.parametrize(
    "method,window,k",
    [("auto", 15, None), ("otsu", 15, None), (128, 15, None), (0, 15, None), (300, 15, None)]
    + [(m, w, k) for m in ("sauvola", "niblack", "wolf") for w, k in ((3, 0.2), (25, 0.7), (301, 0.4))],
)
def test_equals_the_command(tmp_path, seuiller, shape, method, window, k):
    """The command seuiller calls the library's functions itself: the binding passes the same."""
    image = page(*shape, seed=7)
    source = tmp_path / "page.pgm"
    imagefiles.write(source, image)
    options = [] if not isinstance(method, str) or method in ("auto", "otsu") else ["-f", str(window)]
    if k is not None:
        options += ["-k", repr(k)]
    output = subprocess.run([seuiller, *options, str(method), "-", str(source)], capture_output=True, check=True).stdout
    expected = np.frombuffer(output[-image.size :], np.uint8).reshape(image.shape)
    np.testing.assert_array_equal(imagefiles.binarize(image, method, window=window, k=k), expected)
    # In place, into another array, from a view with strides: the same result.
    again = image.copy()
    assert imagefiles.binarize(again, method, window, k, out=again) is again
    np.testing.assert_array_equal(again, expected)
    wide = np.zeros((shape[0], 2 * shape[1]), np.uint8)
    wide[:, ::2] = image
    np.testing.assert_array_equal(imagefiles.binarize(wide[:, ::2], method, window, k), expected)


def test_numpy_scalars_as_arguments():
    image = page(30, 20)
    np.testing.assert_array_equal(imagefiles.binarize(image, np.uint8(100)), imagefiles.binarize(image, 100))
    np.testing.assert_array_equal(
        imagefiles.binarize(image, "wolf", np.int64(7), np.float32(0.25)), imagefiles.binarize(image, "wolf", 7, 0.25)
    )


@pytest.mark.parametrize("shape", [(1, 1), (40, 33), (300, 420)])
def test_suggested_window_is_the_commands(tmp_path, seuiller, shape):
    """seuiller -f auto takes the library's suggested window: the same binarisation."""
    image = page(*shape, seed=2)
    window = imagefiles.suggested_window(image)
    assert window % 2 == 1 and 3 <= window <= 255
    imagefiles.write(tmp_path / "page.pgm", image)
    output = subprocess.run([seuiller, "-f", "auto", "sauvola", "-", str(tmp_path / "page.pgm")], capture_output=True, check=True).stdout
    expected = np.frombuffer(output[-image.size :], np.uint8).reshape(image.shape)
    np.testing.assert_array_equal(imagefiles.binarize(image, "sauvola", window), expected)


def test_out_overlapping_the_input_is_read_before_written():
    image = page(40, 50)
    block = np.zeros((41, 50), np.uint8)
    block[1:] = image
    expected = imagefiles.binarize(image, "sauvola")
    imagefiles.binarize(block[1:], "sauvola", out=block[:-1])
    np.testing.assert_array_equal(block[:-1], expected)


def read_only(shape):
    a = np.zeros(shape, np.uint8)
    a.flags.writeable = False
    return a


BAD_CALLS = [
    ("float image", lambda: imagefiles.binarize(np.zeros((4, 4))), ValueError, "dtype uint8"),
    ("int16 image", lambda: imagefiles.threshold_otsu(np.zeros((4, 4), np.int16)), ValueError, "dtype"),
    ("3-D image", lambda: imagefiles.binarize(np.zeros((4, 4, 3), np.uint8)), ValueError, "2-D"),
    ("1-D image", lambda: imagefiles.threshold_otsu(np.zeros(4, np.uint8)), ValueError, "2-D"),
    ("3-D page for a window", lambda: imagefiles.suggested_window(np.zeros((2, 4, 4), np.uint8)), ValueError, "2-D"),
    ("empty image", lambda: imagefiles.binarize(np.zeros((0, 5), np.uint8), "otsu"), ValueError, "empty"),
    ("empty columns", lambda: imagefiles.threshold_otsu(np.zeros((5, 0), np.uint8)), ValueError, "empty"),
    ("a list", lambda: imagefiles.binarize([[1, 2]]), ValueError, "numpy array"),
    ("read-only out", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), out=read_only((4, 4))), ValueError, "read-only"),
    ("strided out", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), out=np.zeros((4, 8), np.uint8)[:, ::2]), ValueError, "C-contiguous"),
    ("out of another shape", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), out=np.zeros((4, 5), np.uint8)), ValueError, "shape"),
    ("out of another dtype", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), out=np.zeros((4, 4))), ValueError, "dtype"),
    ("even window", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "sauvola", 16), ValueError, "window"),
    ("window 1", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "niblack", 1), ValueError, "window"),
    ("window 65537", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "wolf", 65537), ValueError, "window"),
    ("huge window", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "wolf", 2**80 + 1), ValueError, "window"),
    ("negative window", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "sauvola", -15), ValueError, "window"),
    ("NaN k", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "sauvola", 15, float("nan")), ValueError, "k"),
    ("infinite k", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "wolf", 15, float("inf")), ValueError, "k"),
    ("k a string", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "wolf", 15, "0.5"), ValueError, "k"),
    ("unknown method", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), "bernsen"), ValueError, "bernsen"),
    ("method None", lambda: imagefiles.binarize(np.zeros((4, 4), np.uint8), None), ValueError, "method"),
    ("null in a name", lambda: imagefiles.read("a\0b"), ValueError, "null"),
]


@pytest.mark.parametrize("call,exception,words", [c[1:] for c in BAD_CALLS], ids=[c[0] for c in BAD_CALLS])
def test_bad_input_is_a_clear_exception(call, exception, words):
    with pytest.raises(exception, match=words) as raised:
        call()
    assert isinstance(raised.value, imagefiles.ImageError)
    assert raised.value.status in (imagefiles.Status.PARAMETRE_INVALIDE, imagefiles.Status.TAILLE_HORS_LIMITES)


def test_file_failures_carry_errno_name_and_status(tmp_path):
    cases = [
        (lambda: imagefiles.read(tmp_path / "missing.pgm"), tmp_path / "missing.pgm", errno.ENOENT, FileNotFoundError),
        (lambda: imagefiles.read(tmp_path), tmp_path, errno.EISDIR, IsADirectoryError),
        (lambda: imagefiles.write(tmp_path / "no" / "x.pgm", np.zeros((2, 2), np.uint8)), tmp_path / "no" / "x.pgm", errno.ENOENT, FileNotFoundError),
        (lambda: imagefiles.write_bitmap(tmp_path, np.zeros((2, 2), np.uint8)), tmp_path, None, OSError),
    ]
    for call, name, number, exception in cases:
        with pytest.raises(exception) as raised:
            call()
        assert raised.value.filename == name and isinstance(raised.value, imagefiles.ImageOSError)
        if number is not None:
            assert raised.value.errno == number
        assert raised.value.status != imagefiles.Status.OK
    assert sorted(os.listdir(tmp_path)) == []  # nothing was written


@pytest.mark.parametrize(
    "content,status",
    # A colour pixmap and a 16-bit greymap are read now: test_formats.py compares them with Pillow.
    [(b"", "ERREUR_DE_LECTURE"), (b"P6\n2 2\n255\n" + bytes(11), "ERREUR_DE_LECTURE"), (b"P5\n2 2\n65535\n" + bytes(7), "ERREUR_DE_LECTURE"), (b"P5\n1 1\n1000\n\xff\xff", "DONNEES_ENDOMMAGEES"), (b"P5\n4 4\n255\n\x00", "ERREUR_DE_LECTURE"), (b"P8\n2 2\n255\n" + bytes(4), "FORMAT_INCONNU")],
)
def test_files_that_are_not_read(tmp_path, content, status):
    (tmp_path / "bad.pgm").write_bytes(content)
    with pytest.raises(imagefiles.ImageOSError) as raised:
        imagefiles.read(tmp_path / "bad.pgm")
    assert raised.value.status == imagefiles.Status[status]


def test_files_as_pillow_reads_and_writes_them(tmp_path):
    Image = require("PIL.Image")
    image = page(23, 37, seed=3)
    imagefiles.write(tmp_path / "a.pgm", image)
    np.testing.assert_array_equal(np.asarray(Image.open(tmp_path / "a.pgm")), image)
    imagefiles.write_bitmap(os.fsencode(tmp_path / "a.pbm"), image)
    bits = np.asarray(Image.open(tmp_path / "a.pbm").convert("L"))
    np.testing.assert_array_equal(bits, np.where(image < 128, 0, 255))
    Image.fromarray(image).save(tmp_path / "b.pgm")
    np.testing.assert_array_equal(imagefiles.read(str(tmp_path / "b.pgm")), image)


def test_threads_get_the_results_of_one_thread():
    pages = [page(120, 90, seed=s) for s in range(8)]
    expected = [imagefiles.binarize(p, m) for p in pages for m in imagefiles.METHODS]
    results = [None] * len(expected)

    def work(first):
        for i in range(first, len(expected), 4):
            results[i] = imagefiles.binarize(pages[i // len(imagefiles.METHODS)], imagefiles.METHODS[i % len(imagefiles.METHODS)])

    threads = [threading.Thread(target=work, args=(t,)) for t in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_help_shows_the_docstrings():
    import pydoc

    import imagefiles.dask

    assert "k=None, out=None" in pydoc.render_doc(imagefiles.binarize)
    assert "THRESH_OTSU" in pydoc.render_doc(imagefiles.threshold_otsu)
    assert "map_overlap" in pydoc.render_doc(imagefiles.dask)


def test_a_refused_call_leaves_out_untouched():
    out = np.full((6, 6), 7, np.uint8)
    for method, window, k in (("sauvola", 16, None), ("wolf", 15, float("nan")), ("bernsen", 15, None)):
        with pytest.raises(ValueError):
            imagefiles.binarize(page(6, 6), method, window, k, out=out)
        assert (out == 7).all()


def test_hostile_files(tmp_path):
    image = page(9, 11, seed=5)
    # Control characters and bytes that are not UTF-8 in a name.
    for name in ("a\nb\tc\x01.pgm", os.fsencode(str(tmp_path)) + b"/\xff\xfe.pgm"):
        path = name if isinstance(name, bytes) else tmp_path / name
        imagefiles.write(path, image)
        np.testing.assert_array_equal(imagefiles.read(path), image)
    # A named pipe is opened once: header and raster from the one writer.
    fifo = tmp_path / "pipe.pgm"
    os.mkfifo(fifo)
    writer = threading.Thread(target=lambda: fifo.write_bytes(b"P5\n11 9\n255\n" + image.tobytes()))
    writer.start()
    np.testing.assert_array_equal(imagefiles.read(fifo), image)
    writer.join()
    # A header of 2 GB over a few bytes is refused before the memory is taken: under a 1 GB
    # address-space limit, a reservation would be a MemoryError.
    (tmp_path / "bomb.pgm").write_bytes(b"P5\n46340 46340\n255\n" + bytes(100))
    child = (
        "import resource, sys, imagefiles\n"
        "resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))\n"
        "try:\n    imagefiles.read(sys.argv[1])\n"
        "except Exception as e:\n    print(type(e).__name__, e.status.name)\n"
    )
    result = subprocess.run([os.sys.executable, "-c", child, str(tmp_path / "bomb.pgm")], capture_output=True, text=True)
    assert result.stdout.split() == ["ImageOSError", "ERREUR_DE_LECTURE"], result.stderr


def test_memory_that_cannot_be_had_is_a_memory_error():
    child = (
        "import resource, numpy, imagefiles\n"
        "image = numpy.zeros((20000, 20000), numpy.uint8)\n"
        "resource.setrlimit(resource.RLIMIT_AS, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024 + (200 << 20),) * 2)\n"
        "try:\n    imagefiles.binarize(image, 'sauvola')\n"
        "except MemoryError as e:\n    print(type(e).__name__, e.status.name)\n"
    )
    result = subprocess.run([os.sys.executable, "-c", child], capture_output=True, text=True)
    assert result.stdout.split() == ["ImageMemoryError", "MEMOIRE_INSUFFISANTE"], result.stderr

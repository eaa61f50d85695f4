"""The measures of the document-binarisation contests (DIBCO), ink as the foreground, and the
character error rate of an OCR reading. Binary images are numpy arrays where 0 is ink and any
other value paper, as the files hold them."""

import numpy as np

# The 5 x 5 weights of DRD: the inverse distance to the centre, the centre 0, normalised to 1.
_WEIGHTS = np.array([[0 if (i, j) == (2, 2) else 1 / np.hypot(i - 2, j - 2) for j in range(5)]
                     for i in range(5)])
_WEIGHTS /= _WEIGHTS.sum()


def _ink(image):
    return np.asarray(image) == 0


def f_measure(result, truth):
    """2 PR / (P + R), in percent; 100 when both have no ink."""
    r, t = _ink(result), _ink(truth)
    tp = np.count_nonzero(r & t)
    if not r.any() and not t.any():
        return 100.0
    precision = tp / max(np.count_nonzero(r), 1)
    recall = tp / max(np.count_nonzero(t), 1)
    return 0.0 if tp == 0 else 200 * precision * recall / (precision + recall)


def _counts(result, truth):
    r, t = _ink(result), _ink(truth)
    tp = np.count_nonzero(r & t)
    fp = np.count_nonzero(r & ~t)
    fn = np.count_nonzero(~r & t)
    return tp, fp, fn, r.size - tp - fp - fn


def pseudo_f_measure(result, truth):
    """The F-measure with the recall taken on the skeleton of the truth's ink (scikit-image's
    thinning), in percent; 100 when both have no ink."""
    from skimage.morphology import skeletonize
    r, t = _ink(result), _ink(truth)
    if not r.any() and not t.any():
        return 100.0
    tp = np.count_nonzero(r & t)
    skeleton = skeletonize(t)
    precision = tp / max(np.count_nonzero(r), 1)
    recall = np.count_nonzero(skeleton & r) / max(np.count_nonzero(skeleton), 1)
    return 0.0 if precision + recall == 0 else 200 * precision * recall / (precision + recall)


def nrm(result, truth):
    """Negative rate: the mean of the share of the truth's ink missed and of its paper made ink
    (a share of nothing counted 0)."""
    tp, fp, fn, tn = _counts(result, truth)
    missed = fn / (fn + tp) if fn + tp else 0.0
    false = fp / (fp + tn) if fp + tn else 0.0
    return (missed + false) / 2


def mcc(result, truth):
    """Matthews' correlation coefficient; where its denominator is 0, 1 for images that agree and 0
    otherwise."""
    tp, fp, fn, tn = (float(v) for v in _counts(result, truth))
    spread = (tp + fp) * (tp + fn) * (tn + fp) * (tn + fn)
    if spread == 0:
        return 1.0 if fp + fn == 0 else 0.0
    return (tp * tn - fp * fn) / np.sqrt(spread)


def psnr(result, truth):
    """10 log10(1 / MSE) on the binary images (1 for ink); infinite for a perfect result."""
    mse = np.mean(_ink(result) != _ink(truth))
    return float("inf") if mse == 0 else 10 * np.log10(1 / mse)


def drd(result, truth):
    """Distance-reciprocal distortion: for each pixel that differs, the 5 x 5 weighted difference
    between it and the truth around it, summed, over the number of 8 x 8 blocks of the truth that
    hold both ink and paper (the image mirrored at its borders)."""
    r, t = _ink(result).astype(np.float64), _ink(truth).astype(np.float64)
    padded = np.pad(t, 2, mode="reflect")
    around = np.zeros_like(t)  # the weighted share of ink around each pixel
    for i in range(5):
        for j in range(5):
            if _WEIGHTS[i, j]:
                around += _WEIGHTS[i, j] * padded[i:i + t.shape[0], j:j + t.shape[1]]
    flipped = r != t
    distortion = np.where(r == 1, 1 - around, around)[flipped].sum()
    h, w = (t.shape[0] // 8) * 8, (t.shape[1] // 8) * 8
    blocks = t[:h, :w].reshape(h // 8, 8, w // 8, 8).sum(axis=(1, 3))
    non_uniform = np.count_nonzero((blocks > 0) & (blocks < 64))
    return float(distortion / max(non_uniform, 1))


def character_error_rate(read, expected):
    """Edit distance between the text read and the text expected (whitespace runs as one space),
    over the expected length, in percent."""
    a = " ".join(expected.split())
    b = " ".join(read.split())
    if not a:
        return 0.0 if not b else 100.0
    # One row of the edit-distance table at a time, as vectors: insertions are a running minimum.
    previous = np.arange(len(b) + 1)
    bb = np.frombuffer(b.encode("utf-32-le"), dtype=np.uint32)
    for i, ca in enumerate(a, 1):
        cost = (bb != ord(ca)).astype(np.int64)
        row = np.empty_like(previous)
        row[0] = i
        row[1:] = np.minimum(previous[1:] + 1, previous[:-1] + cost)
        steps = np.arange(len(b) + 1)
        row = np.minimum.accumulate(row - steps) + steps
        previous = row
    return 100.0 * previous[-1] / len(a)

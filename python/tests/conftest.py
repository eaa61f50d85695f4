"""Shared by the package's tests: test pages, and the references that may be missing (skipped,
except in CI, where CI=true makes a missing reference a failure)."""

import os
import shutil

import numpy as np
import pytest


def require(module):
    """The module `module`, or a skip (a failure in CI) where it is not installed."""
    if os.environ.get("CI") == "true":
        return __import__(module, fromlist=["_"])
    return pytest.importorskip(module)


def page(rows, columns, seed=0):
    """A page with text-like strokes on paper lit unevenly, and noise: every method has pixels on
    both sides of its threshold, and near it."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:rows, 0:columns]
    paper = 170 + 60 * np.sin(x / max(columns, 1) * 2.5) * np.cos(y / max(rows, 1) * 1.7)
    ink = ((x // 3 + y // 5) % 7 == 0) & (rng.random((rows, columns)) < 0.8)
    image = np.where(ink, paper * 0.35, paper) + rng.normal(0, 9, (rows, columns))
    return np.clip(image, 0, 255).astype(np.uint8)


@pytest.fixture(scope="session")
def seuiller():
    """The command seuiller built with the module (SEUILLER set by the test command)."""
    path = os.environ.get("SEUILLER") or shutil.which("seuiller")
    if not path:
        if os.environ.get("CI") == "true":
            pytest.fail("SEUILLER is not set and seuiller is not on the PATH")
        pytest.skip("seuiller is not built")
    return path

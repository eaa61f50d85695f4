"""imagefiles.batch on a local dask.distributed cluster: outputs written, failures reported, a
second run skipping what the first completed."""

import os

import numpy as np

import imagefiles
from conftest import page, require

distributed = require("distributed")
from imagefiles.batch import binarize_files  # noqa: E402


def test_files_on_a_local_cluster(tmp_path):
    sources = []
    for n in range(5):
        sources.append(tmp_path / ("page%d.pgm" % n))
        imagefiles.write(sources[-1], page(50 + n, 40, seed=n))
    (tmp_path / "broken.pgm").write_bytes(b"P5\n10 10\n255\n\x01\x02")
    sources += [tmp_path / "broken.pgm", tmp_path / "missing.pgm"]
    out = tmp_path / "out"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            first = binarize_files(sources, out, method="sauvola", window=11, client=client)
            assert [o.state for o in first] == ["written"] * 5 + ["failed"] * 2
            assert "ERREUR_DE_LECTURE" in first[5].error or "ends before" in first[5].error
            assert first[6].error.startswith("ImageFileNotFoundError")
            for o in first[:5]:
                np.testing.assert_array_equal(imagefiles.read(o.target), imagefiles.binarize(imagefiles.read(o.source), "sauvola", 11))
            assert sorted(os.listdir(out)) == ["page%d.pgm" % n for n in range(5)]

            # A second run skips the complete outputs and writes again the one whose source changed.
            stamp = os.stat(first[0].target).st_mtime_ns
            os.utime(sources[1], ns=(stamp + 10**9, stamp + 10**9))
            second = binarize_files(sources, out, method="sauvola", window=11, client=client, bitmap=False)
            assert [o.state for o in second] == ["skipped", "written", "skipped", "skipped", "skipped", "failed", "failed"]
            assert os.stat(first[0].target).st_mtime_ns == stamp

"""Runs the package's tests with pytest; without pytest, a skip (exit status 77), but a failure in
CI (CI=true)."""

import os
import sys

# Only when run: a test's cluster of processes starts them by importing this file again.
if __name__ == "__main__":
    try:
        import pytest
    except ImportError:
        print("pytest is not installed: apt-get install -y python3-pytest")
        sys.exit(1 if os.environ.get("CI") == "true" else 77)

    sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", os.path.dirname(os.path.abspath(__file__))]))

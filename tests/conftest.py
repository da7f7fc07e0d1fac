"""Markers and run modes shared by the module's tests.

- `scale`: multi-minute checks on statements of hundreds of megabytes; they run only with
  `--scale` or TARVIK_SCALE=1, so that the default run stays quick.
- `asan_unfit`: checks whose numbers mean nothing when the module runs under AddressSanitizer
  (heap statistics, allocation failure injection, timings); skipped when TARVIK_ASAN=1, which
  tools/run_module_asan.sh sets.
"""

import os

import pytest
from hypothesis import HealthCheck, settings

UNDER_ASAN = os.environ.get("TARVIK_ASAN") == "1"

# Reproducible in CI: the same examples on every run and no example database between runs.
settings.register_profile(
    "tarvik",
    derandomize=True,
    database=None,
    deadline=None,
    print_blob=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.load_profile("tarvik")


def pytest_addoption(parser):
    parser.addoption(
        "--scale", action="store_true", default=False, help="run the tests marked `scale`"
    )


def pytest_collection_modifyitems(config, items):
    scale = config.getoption("--scale") or os.environ.get("TARVIK_SCALE") == "1"
    for item in items:
        if "scale" in item.keywords:
            if UNDER_ASAN:
                item.add_marker(pytest.mark.skip(reason="scale bounds do not hold under ASan"))
            elif not scale:
                item.add_marker(pytest.mark.skip(reason="needs --scale or TARVIK_SCALE=1"))
        if UNDER_ASAN and "asan_unfit" in item.keywords:
            reason = item.get_closest_marker("asan_unfit").kwargs.get("reason", "")
            item.add_marker(pytest.mark.skip(reason=f"under ASan: {reason}"))

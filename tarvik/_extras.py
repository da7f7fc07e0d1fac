"""The optional libraries, each imported where it is first needed, and one wording for one that
is missing: what needs it, and the extra of the distribution `tarvik` that brings it.

`import tarvik` stays fast and works without them; pyarrow, for one, takes longer to import than
a statement of some megabytes takes to read.
"""

from __future__ import annotations

import functools
import importlib
from typing import Any, Final

__all__ = ["optional", "require"]

# The extra that brings each library.
_EXTRAS: Final = {
    "pyarrow": "arrow",
    "dask": "dask",
    "distributed": "dask",
    "pandas": "dask",
    "matplotlib": "report",
}


def require(module: str, purpose: str) -> Any:
    """`module`, or an ImportError that says `purpose` needs it and how to install it."""
    try:
        return importlib.import_module(module)
    except ImportError:
        library = module.partition(".")[0]
        raise ImportError(
            f"{purpose} needs {library}: pip install 'tarvik[{_EXTRAS[library]}]'"
        ) from None


@functools.cache
def optional(module: str) -> Any:
    """`module` where it is installed, else None."""
    try:
        return importlib.import_module(module)
    except ImportError:
        return None

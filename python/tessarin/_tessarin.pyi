"""Type stubs of the compiled part of the tessarin package."""
import os
from typing import Any, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

__version__: str

class CacheError(Exception):
    """A file the modifier would refuse (file, byte, reason), or one changed on disk since it was opened."""

class Cache:
    """An open cache file: its samples, read on demand by position, and playback onto weights."""
    @property
    def path(self) -> str: ...
    @property
    def closed(self) -> bool: ...
    @property
    def samples_per_frame(self) -> int: ...
    @property
    def sample_count(self) -> int: ...
    @property
    def fixed_count(self) -> Optional[int]: ...
    @property
    def counts(self) -> npt.NDArray[np.int32]: ...
    @property
    def changed(self) -> bool: ...
    def weights(self, k: int) -> npt.NDArray[np.float32]: ...
    def times(self, k: int) -> npt.NDArray[np.int32]: ...
    def read(
        self,
        start: int = 0,
        stop: Optional[int] = None,
        *,
        vertices: Union[int, slice, Sequence[int], npt.NDArray[np.integer], None] = None,
    ) -> npt.NDArray[np.float32]:
        """Samples [start, stop) as a (samples, vertices) float32 array; `vertices` reads those columns alone."""
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, key: int) -> npt.NDArray[np.float32]: ...
    @overload
    def __getitem__(self, key: slice) -> npt.NDArray[np.float32]: ...
    def evaluate(
        self,
        frame: float,
        weights: npt.NDArray[np.float32],
        selected: Optional[npt.NDArray[np.bool_]] = None,
        *,
        start: float = 0.0,
        relative_offset: bool = False,
        strength: float = 1.0,
        selection_type: int = 0,
        ticks_per_frame: int = 160,
        out: Optional[Tuple[npt.NDArray[np.float32], npt.NDArray[np.bool_]]] = None,
        selected_as_one: bool = False,
        clamp: bool = False,
    ) -> Tuple[npt.NDArray[np.float32], npt.NDArray[np.bool_]]:
        """What the modifier leaves on a mesh with these incoming weights and selection at `frame`
        (selected_as_one: 1.0 for a selected vertex; clamp: each weight within 0..1)."""
    def close(self) -> None: ...
    def __enter__(self) -> "Cache": ...
    def __exit__(self, *args: Any) -> None: ...

class Writer:
    """Writes a cache file as the recorder does, one sample at a time, beside `path` until close() puts it
    in place; a writer never closed (dropped, or left by an exception from its `with` block) is
    discarded and an old file at `path` keeps its bytes."""
    def __init__(
        self,
        path: _Path,
        samples_per_frame: int,
        ticks_per_frame: int = 160,
        *,
        start_frame: float = 0.0,
        overwrite: bool = False,
    ) -> None: ...
    @property
    def path(self) -> str: ...
    @property
    def sample_count(self) -> int: ...
    @property
    def closed(self) -> bool: ...
    def append(self, weights: npt.NDArray[np.float32], selected: Optional[npt.NDArray[np.bool_]] = None) -> None: ...
    def close(self) -> None:
        """Writes the count table and puts the file in place; OSError (the file, the reason) when that fails."""
    def __enter__(self) -> "Writer": ...
    def __exit__(self, *args: Any) -> None:
        """close(), or discards the file when the block raised."""

def open(path: _Path) -> Cache:
    """Opens a cache file as the modifier would."""

def verify(path: _Path) -> dict[str, Any]:
    """The findings of `tessarin verify --format json`, as a dict."""

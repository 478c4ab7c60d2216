"""Checks of the NumPy arrays handed to the library.

The library reads and writes whole pictures and blocks through raw pointers, so
every array is checked for its type, shape and memory layout before its address
is passed on: a wrong size must raise here, never reach memory it does not own.
"""

from __future__ import annotations

from typing import Any, Tuple

import numpy as np

from ._library import address

_INT32_MAX = 2**31 - 1


def picture_target(out: Any, height: int, width: int) -> Tuple[int, int]:
    """Address and row stride of a writable BGR24 picture array of the given size.

    Rows may lie any distance apart, also bottom-up (a negative stride, as in
    ``out[::-1]``), but the pixels of a row must be packed.
    """
    if not isinstance(out, np.ndarray) or out.dtype != np.uint8:
        raise TypeError("out must be a numpy.uint8 array")
    if out.shape != (height, width, 3):
        raise ValueError(f"out has shape {out.shape}, the pictures have {(height, width, 3)}")
    if not out.flags.writeable:
        raise ValueError("out is read-only")
    stride = out.strides[0]
    if out.strides[1:] != (3, 1) or abs(stride) < 3 * width or abs(stride) > _INT32_MAX:
        raise ValueError("out must hold packed rows of 3-byte pixels")
    return address(out), stride


def picture_source(picture: Any, height: int, width: int) -> np.ndarray:
    """A BGR24 picture as a C-contiguous uint8 array (copied only if needed)."""
    array = np.asarray(picture)
    if array.dtype != np.uint8:
        raise TypeError("pictures must be numpy.uint8 arrays")
    expected = (height, width, 3)
    if array.shape != expected:
        raise ValueError(f"picture has shape {array.shape}, expected {expected}")
    return np.ascontiguousarray(array)


def byte_source(data: Any, dtype: Any = np.uint8) -> np.ndarray:
    """Bytes, a bytearray, a memoryview or an array as one contiguous array of dtype."""
    if isinstance(data, (bytes, bytearray, memoryview)):
        array = np.frombuffer(data, dtype=np.uint8)
    else:
        array = np.asarray(data)
        if array.dtype != np.dtype(dtype):
            raise TypeError(f"expected a numpy.{np.dtype(dtype).name} array")
    array = np.ascontiguousarray(array)
    if array.nbytes > _INT32_MAX:
        raise ValueError("more than 2 GiB in one call")
    return array

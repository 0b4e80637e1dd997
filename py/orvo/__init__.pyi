# Types of the orvo extension module.
import os
import uuid as _uuid
from fractions import Fraction
from types import TracebackType
from typing import (
    IO,
    Any,
    Callable,
    ClassVar,
    Dict,
    Iterable,
    Iterator,
    Literal,
    Optional,
    Sequence,
    Tuple,
    Type,
    Union,
    final,
    overload,
)

import numpy
import numpy.typing

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Text = Union[str, bytes]
_Bytes = bytes
_Pixels = numpy.typing.NDArray[numpy.uint8]
_Pair = Tuple[int, int]
_Frame = Union[_Pixels, Tuple[_Pixels, _Pixels]]
# Files in memory: bytes to read, bytearrays to fill, binary file objects.
_Source = Union[_Path, bytearray, memoryview, IO[bytes]]
_Target = Union[_Path, bytearray, IO[bytes]]
_Picture = Union[_Pixels, image]
# What append takes; a progress report is a callable given the frame number
# or, with `method`, an object.
_Appended = Union[image, _Pixels, Tuple[image], Tuple[image, image], Tuple[_Pixels, _Pixels], movie]
_Option = Union[int, float, str, bool]

__version__: str
threads: int

DYX_IMG_FMT_A: int
DYX_IMG_FMT_L: int
DYX_IMG_FMT_LA: int
DYX_IMG_FMT_RGB: int
DYX_IMG_FMT_RGBA: int
DYX_FLIP_XAXIS: int
DYX_FLIP_YAXIS: int
DYX_BLEND_ZERO: int
DYX_BLEND_ONE: int
DYX_BLEND_SCOLOR: int
DYX_BLEND_SALPHA: int
DYX_BLEND_DCOLOR: int
DYX_BLEND_DALPHA: int
DYX_BLEND_CCOLOR: int
DYX_BLEND_CALPHA: int
DYX_BLEND_MSCOLOR: int
DYX_BLEND_MSALPHA: int
DYX_BLEND_MDCOLOR: int
DYX_BLEND_MDALPHA: int
DYX_BLEND_MCCOLOR: int
DYX_BLEND_MCALPHA: int
DYX_BITBLT_COPY: int
DYX_BITBLT_ALPHAMASK: int
DYX_SCALE_SMOOTH: int
MOVIE_READ: int
MOVIE_WRITE: int
MOVIE_ANAGLYPH_NONE: int
MOVIE_ANAGLYPH_REDBLUE: int
MOVIE_ANAGLYPH_BLUERED: int
MOVIE_ANAGLYPH_REDCYAN: int
MOVIE_ANAGLYPH_CYANRED: int
DYX_UDIL_BOOLEAN: int
DYX_UDIL_INT: int
DYX_UDIL_FLOAT: int
DYX_UDIL_CHOICE: int
UUID_MAKE_V1: int
UUID_MAKE_V3: int
UUID_MAKE_V4: int
UUID_MAKE_V5: int
UUID_MAKE_MC: int

class OrvoWarning(UserWarning): ...

class Error(OSError):
    status: Optional[int]

class NotFoundError(Error, FileNotFoundError): ...

@final
class image:
    # Reads give lists; writes take tuples.
    format: int
    dims: Sequence[int]
    framenumber: int
    frame: Sequence[int]
    origin: Sequence[int]
    @property
    def __members__(self) -> list[str]: ...
    @property
    def __methods__(self) -> list[str]: ...
    @property
    def __array_interface__(self) -> dict[str, Any]: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __init__(
        self,
        width: int = ...,
        height: int = ...,
        format: int = ...,
        pixels: Optional[bytes] = ...,
        framenumber: int = ...,
        framewidth: int = ...,
        frameheight: int = ...,
        originx: int = ...,
        originy: int = ...,
    ) -> None: ...
    @classmethod
    def fromarray(cls, array: Any, shape: Optional[Sequence[int]] = ..., format: int = ...) -> image: ...
    def toarray(self) -> _Pixels: ...
    def ppm(self, /) -> bytes: ...
    def tostring(self, /) -> bytes: ...
    def fromstring(self, data: bytes, width: int, height: int, format: int, /) -> None: ...
    def subrect(self, *rectangle: _Pair) -> image: ...
    def chromakey(self, color: Tuple[int, int, int], tolerance: Tuple[int, int, int], alpha: int, /) -> None: ...
    def flip(self, axis: int, /) -> None: ...
    def swizzle(self, channels: Tuple[int, int, int, int], mask: Tuple[int, int, int, int], /) -> None: ...
    def colormath(
        self,
        row0: Tuple[float, float, float, float, float],
        row1: Tuple[float, float, float, float, float],
        row2: Tuple[float, float, float, float, float],
        row3: Tuple[float, float, float, float, float],
        /,
    ) -> None: ...
    def blend(
        self,
        image: image,
        srccolor: int,
        srcalpha: int,
        dstcolor: int,
        dstalpha: int,
        color: Tuple[int, int, int, int],
        calpha: int,
        /,
    ) -> None: ...
    def bitblt(
        self,
        image: image,
        source_origin: _Pair,
        source_size: _Pair,
        origin: _Pair,
        size: _Pair,
        mode: int,
        color: Tuple[int, int, int, int],
        /,
    ) -> None: ...
    def getpixel(self, x: int, y: int, /) -> list[int]: ...
    def setpixel(self, x: int, y: int, value: list[int], /) -> None: ...
    def getpixels(self, depth: int = ...) -> _Pixels: ...
    def setpixels(self, array: _Pixels, depth: int = ...) -> None: ...
    def macclip(self, /) -> None: ...
    def errstr(self, /) -> str: ...
    def load(
        self, filename: _Path, frame: int = ..., options: _Text = ..., format: Optional[str] = ...
    ) -> int: ...
    def save(self, filename: _Path, options: _Text = ..., format: Optional[str] = ...) -> int: ...
    def resize(self, dx: int, dy: int, smooth: int = ...) -> None: ...
    def diff(self, image: image, absolute: int = ...) -> image: ...
    def stats(self, /) -> dict[str, float]: ...
    def __reduce__(self, /) -> Tuple[Type[image], Tuple[Any, ...]]: ...
    def __dir__(self, /) -> list[str]: ...
    def _repr_png_(self) -> Optional[bytes]: ...

@final
class movie:
    filename: str
    stereo: int
    fps: float
    dims: Sequence[int]
    tiling: Sequence[int]
    format: str
    framerange: Sequence[int]
    options: str
    intensity: Sequence[float]
    repeat: Sequence[int]
    anaglyph: int
    flip: int
    # Set from a number or a (numerator, denominator) tuple too; typed as read.
    rate: Optional[Fraction]
    @property
    def nframes(self) -> int: ...
    @property
    def realframes(self) -> int: ...
    # What the open read movie is; None when closed or writing.
    @property
    def info(self) -> Optional[Dict[str, Any]]: ...
    @property
    def __members__(self) -> list[str]: ...
    @property
    def __methods__(self) -> list[str]: ...
    def __init__(self, mode: int = ..., /) -> None: ...
    def open(self, /) -> int: ...
    def close(self, /) -> int: ...
    def append(
        self,
        arg1: _Appended,
        object: Union[Callable[[int], object], object, None] = ...,
        method: Optional[str] = ...,
        smooth: int = ...,
    ) -> int: ...
    # -1 on failure, with the reason in errstr(); typed for the usual case.
    def getframe(self, n: int, /) -> list[image]: ...
    def getarray(self, n: int, copy: bool = ..., dtype: Any = ...) -> _Frame: ...
    def addcount(self, x: Union[int, image, movie], /) -> int: ...
    def resetcount(self, /) -> int: ...
    def errstr(self, /) -> str: ...
    def __enter__(self, /) -> movie: ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]] = ...,
        exc_value: Optional[BaseException] = ...,
        traceback: Optional[TracebackType] = ...,
        /,
    ) -> bool: ...
    def __len__(self) -> int: ...
    def __getitem__(self, n: int) -> list[image]: ...
    def __iter__(self) -> Iterator[list[image]]: ...
    def __dir__(self, /) -> list[str]: ...
    def _repr_png_(self) -> Optional[bytes]: ...
    def frametime(self, n: int) -> float: ...
    def frameat(self, seconds: float) -> int: ...

class MovieWriter:
    # The attributes of the orvo.movie underneath (dims, fps, rate, ...).
    def __init__(self, path: _Target, attributes: dict[str, Any]) -> None: ...
    def append(
        self,
        arg1: _Appended,
        object: Union[Callable[[int], object], object, None] = ...,
        method: Optional[str] = ...,
        smooth: int = ...,
    ) -> int: ...
    def close(self) -> int: ...
    def __enter__(self) -> MovieWriter: ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]] = ...,
        exc_value: Optional[BaseException] = ...,
        traceback: Optional[TracebackType] = ...,
    ) -> bool: ...
    def __len__(self) -> int: ...
    def __getattr__(self, name: str) -> Any: ...

@final
class uuid:
    def __init__(self, value: Union[int, _Text, _uuid.UUID, None] = ..., name: Optional[_Text] = ..., /) -> None: ...
    def __hash__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __lt__(self, other: Union[uuid, _uuid.UUID], /) -> bool: ...
    def __le__(self, other: Union[uuid, _uuid.UUID], /) -> bool: ...
    def __gt__(self, other: Union[uuid, _uuid.UUID], /) -> bool: ...
    def __ge__(self, other: Union[uuid, _uuid.UUID], /) -> bool: ...
    @property
    def bytes(self) -> _Bytes: ...
    @property
    def hex(self) -> str: ...
    def __reduce__(self, /) -> Tuple[Type[uuid], Tuple[str]]: ...

def codecs() -> list[list[Any]]: ...
def extend(template: _Text, frame: int, first: int, last: int, /) -> Tuple[int, int, int]: ...
def istemplate(name: _Text, /) -> list[Any]: ...
def indexof(template: _Text, filename: _Text, start: int, end: int, /) -> int: ...
def version() -> list[Any]: ...
def home() -> str: ...
def arch() -> str: ...
# Without NumPy imread gives an image and imiter images; a stereo movie's
# frames are (left, right) pairs. Typed for the usual case: arrays.
def imread(
    path: _Source,
    frame: int = ...,
    start: Optional[float] = ...,
    format: Optional[str] = ...,
    dtype: Any = ...,
) -> _Pixels: ...
def imwrite(
    path: _Target,
    data: Union[_Picture, Iterable[_Picture]],
    options: _Text = ...,
    format: Optional[str] = ...,
    fps: Optional[float] = ...,
    **keywords: _Option,
) -> None: ...
def imiter(
    path: _Source,
    start: Optional[float] = ...,
    end: Optional[float] = ...,
    format: Optional[str] = ...,
    dtype: Any = ...,
    copy: bool = ...,
) -> Iterator[_Pixels]: ...
@overload
def open(path: _Source, mode: Literal["r"] = ..., **attributes: Any) -> movie: ...
@overload
def open(path: _Target, mode: Literal["w"], **attributes: Any) -> MovieWriter: ...
@overload
def open(path: _Source, mode: str = ..., **attributes: Any) -> Union[movie, MovieWriter]: ...
def info(path: _Source) -> Dict[str, Any]: ...

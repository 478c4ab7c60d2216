"""The exception raised when the library reports a failure."""

from __future__ import annotations


class TarselError(Exception):
    """A failure reported by the library.

    Attributes:
        message: the library's own text, exactly as it wrote it (some texts end
            in a line feed), or a short description where the export has no
            error text.
        function: the name of the export that failed, e.g. ``"VIDEO_Init"``.
        code: the export's return code: 1 for an anticipated failure, 2 for an
            unexpected one inside an Init; other values for the exports that
            report through their results alone.
    """

    def __init__(self, message: str, function: str, code: int = 1) -> None:
        super().__init__(message, function, code)
        self.message = message
        self.function = function
        self.code = code

    def __str__(self) -> str:
        text = self.message.strip() or "failed"
        return f"{self.function}: {text}"

"""Exceptions of lvtcam."""


class CameraError(Exception):
    """A call into the camera plug-in failed.

    Attributes:
        call:      the plug-in entry point that failed, e.g. ``"vyxpUpdate"``
        code:      its result code, e.g. ``1026``
        code_name: the code's name, e.g. ``"VYX_RUNTIME_ERROR"``
        text:      the plug-in's own text for the failure (may be empty)
        kind:      what went wrong: ``"stalled"`` (the camera stopped answering),
                   ``"lost"`` (the connection was closed or reset), ``"refused"``
                   (the camera refused a value), ``"invalid address"`` or ``"failed"``
    """

    def __init__(self, call, code, code_name, text, kind="failed", message=None):
        if message is None:
            message = f"{call} failed: {code_name} ({code})"
            if text:
                message += f": {text}"
        super().__init__(message)
        self.call = call
        self.code = code
        self.code_name = code_name
        self.text = text
        self.kind = kind

    def __reduce__(self):
        return (type(self), (self.call, self.code, self.code_name, self.text, self.kind, str(self)))

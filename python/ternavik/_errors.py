"""The one exception type for mistakes in what the caller passed in."""


class InputError(ValueError):
    """Raised when user input cannot be used; the message names the culprit."""

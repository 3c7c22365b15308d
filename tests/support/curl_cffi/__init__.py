"""Test stand-in for the HTTP client the engine plug-in wraps; it sends nothing."""

# A release the engine does not support, so that it never builds its own handler on this.
__version__ = '0.0.0'

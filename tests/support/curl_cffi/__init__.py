"""Test stand-in for the HTTP client the engine plug-in wraps; it sends nothing."""

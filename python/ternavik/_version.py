"""The package's version, one place for the package and the command line."""

__version__ = "0.1.0"

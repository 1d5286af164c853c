"""The native module behind the package's front ends.

Every numerical call of the package goes through ``native``, so the package
can move to another native module by changing this one line.
"""

# The package's own module: its worker pool is the only one the package
# keeps busy (_ternavik's wakes only when a program calls _ternavik itself).
from . import _engine as native

__all__ = ["native"]

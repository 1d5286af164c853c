"""The native module behind the package's front ends.

Every numerical call of the package goes through ``native``, so the package
can move to another native module by changing this one line.
"""

import _ternavik as native

__all__ = ["native"]

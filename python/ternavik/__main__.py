"""Run the command line: ``python -m ternavik``."""

import sys

from .cli import main

sys.exit(main())

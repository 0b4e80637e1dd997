"""`python3 -m orvo`: the orvo command."""
import sys

from .cli.main import main

if __name__ == "__main__":
    sys.exit(main())

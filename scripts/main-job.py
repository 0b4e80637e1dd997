"""The main job: import orvo and report what it is and where it lives."""
from __future__ import print_function

import orvo

banner, version, number = orvo.version()
print(banner)
print("version:", version, number)
print("home:", orvo.home())
print("arch:", orvo.arch())

"""Allocation failures inside movie and image operations, walked through the
fault-injection build of orvo (see alloc_fault_walk.py)."""
import json
import os
import sys
import unittest

import orvo
from orvo_testing import run_bounded

HERE = os.path.dirname(os.path.abspath(__file__))
# build/py3/orvo/__init__.py: the build tree is three levels up.
BUILD_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(orvo.__file__))))
FAULTS_DIR = os.path.join(BUILD_DIR, "py3-faults")


@unittest.skipIf(sys.version_info[0] < 3, "the fault-injection module is built for Python 3 only")
@unittest.skipUnless(os.path.isdir(FAULTS_DIR), "no fault-injection build of orvo beside this one")
class AllocationFailureWalkTest(unittest.TestCase):
    def test_every_failure_is_reported_and_releases_what_it_took(self):
        status, out, err = run_bounded([sys.executable, os.path.join(HERE, "alloc_fault_walk.py")], 600,
                                       dict(os.environ, PYTHONPATH=FAULTS_DIR))
        self.assertEqual(status, 0, "killed after 10 minutes or failed: " + err[-3000:])
        result = json.loads(out.strip().splitlines()[-1])
        self.assertEqual(result["problems"], [])
        coverage = result["coverage"]
        # Every open and every read walks at least one failure.
        for name, points in coverage.items():
            if name.startswith("open") or name.startswith("getframe"):
                self.assertGreater(points, 0, name)
        self.assertTrue(result["ffmpeg"], "the ffmpeg plug-in was not loaded")
        sys.stderr.write("allocation failures walked: %d operations, %d failure points\n"
                         % (len(coverage), sum(coverage.values())))


if __name__ == "__main__":
    unittest.main()

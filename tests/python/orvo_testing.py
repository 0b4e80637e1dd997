"""Helpers shared by the Python tests (Python 2.7 and 3)."""
import os
import subprocess
import sys


def run_python(code, **env_changes):
    """Runs `code` in a fresh interpreter with the same orvo on its path.

    Keyword arguments set environment variables; a value of None removes
    one. Returns (exit status, standard output, standard error) as text.
    """
    env = dict(os.environ)
    for key, value in env_changes.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = value
    child = subprocess.Popen([sys.executable, "-c", code], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = child.communicate()
    return child.returncode, out.decode("utf-8"), err.decode("utf-8")

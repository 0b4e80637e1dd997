"""Set-up of the worker processes of a local cluster (a Dask preload).

A Ctrl-C at the terminal reaches every process of the command's group; the
workers leave it to the command, which cancels their tasks and stops them
in order, instead of each printing its own traceback.
"""
import signal


def dask_setup(worker):
    signal.signal(signal.SIGINT, signal.SIG_IGN)

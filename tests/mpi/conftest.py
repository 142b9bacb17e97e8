"""Every rank runs the whole session. Rank 0 reports as usual; the other
ranks print only their failures, so that the ranks' lines do not mix."""

import os
import sys

import pytest

# Set by Open MPI's launcher (and by MPICH's), read before MPI starts.
RANK = int(os.environ.get("OMPI_COMM_WORLD_RANK", os.environ.get("PMI_RANK", "0")))


@pytest.hookimpl(trylast=True)
def pytest_configure(config):
    if RANK != 0:
        reporter = config.pluginmanager.getplugin("terminalreporter")
        if reporter is not None:
            config.pluginmanager.unregister(reporter)


def pytest_runtest_logreport(report):
    if RANK != 0 and report.failed:
        print(f"rank {RANK}: {report.nodeid} failed ({report.when}):\n{report.longreprtext}",
              file=sys.stderr, flush=True)

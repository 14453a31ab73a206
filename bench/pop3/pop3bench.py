"""What the POP3 benchmarks share: their arguments and the bridge started
against the simulator as its HTTP proxy."""

import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "host"))
import hostrun  # noqa: E402

USER, PASSWORD = "bench", "bench"


def arguments(runs, *extra):
    """--sim, --bin, --plugin, --work and --runs, plus (flag, default) pairs."""
    parser = argparse.ArgumentParser()
    for flag in ("--sim", "--bin", "--plugin", "--work"):
        parser.add_argument(flag, required=True)
    parser.add_argument("--runs", type=int, default=runs)
    for flag, default in extra:
        parser.add_argument(flag, default=default)
    return parser.parse_args()


def start_bridge(args, work, sim_port, site=None):
    """The host with the plug-in on a free POP3 port, the simulator as its
    proxy (and site, a dict of [Site] keys, when given); returns (host, pop3
    port)."""
    pop3 = hostrun.free_port()
    plugin = hostrun.install_plugin(args.plugin, os.path.join(work, "plugin"),
                                    hostrun.ini_text(pop3, hostrun.free_port(), site=site,
                                                     proxy=("127.0.0.1", sim_port)))
    host = hostrun.Host(os.path.join(args.bin, "quillmere-host"), plugin,
                        log=open(os.path.join(work, "host.log"), "wb"))
    if not hostrun.wait_for_port(pop3, 60, host.proc):
        host.stop()
        raise RuntimeError("the bridge did not start")
    return host, pop3

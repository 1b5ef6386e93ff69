#!/usr/bin/env python3
"""Measures the site path: what zantra's pure-ftpd hook adds to the uploads of a release.

Two pure-ftpd servers on 127.0.0.1, set up as tests/site/ftp_site.py sets them up: one hands every
upload to examples/site/zantra-pure-upload.sh through pure-uploadscript, the other runs no hook.
Each round uploads a release (its list first, then the volumes, over one FTP session) to each
server in turn and prints:
  - the time the hook takes per upload: the shipped script as pure-uploadscript runs it (timed by
    a wrapper, with the start of one date(1) process), and the two runs of zantra in it, -g -t of
    the volume then -g -m, timed alone for every volume of the complete release: median and 99th
    percentile of each;
  - the upload throughput of the whole release without the hook, with it until the last upload
    is stored, and with it until the last hook has run.
Needs root (pure-ftpd's upload pipe and its login), pure-ftpd, pure-pw and openssl.

Usage: bench/site_bench.py [-n volumes] [-s MiB per volume] [-r rounds] ZANTRA
"""

import argparse
import io
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "site"))
import ftp_site  # noqa: E402  (the site harness: servers, login, hook log)


def options():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-n", "--volumes", type=int, default=100)
    parser.add_argument("-s", "--size-mib", type=float, default=5.0)
    parser.add_argument("-r", "--rounds", type=int, default=3)
    parser.add_argument("zantra")
    for tool, default in (("pure-ftpd", "/usr/sbin/pure-ftpd"), ("pure-uploadscript", "/usr/sbin/pure-uploadscript"),
                          ("pure-pw", "/usr/bin/pure-pw"), ("openssl", "/usr/bin/openssl")):
        parser.add_argument("--" + tool, default=default)
    return parser.parse_args()


def upload_release(site, release, volumes, listing):
    """Uploads the list and the volumes; returns the seconds until the last volume is stored and
    until its hook has run (the same without a hook)."""
    ftp = site.client()
    ftp.mkd(ftp_site.ftp_path(release))
    runs = len(site.hooks()) if site.with_hook else 0
    start = time.monotonic()
    ftp.storbinary("STOR " + ftp_site.ftp_path(release, b"rel.sfv"), io.BytesIO(listing))
    for name, data in volumes.items():
        ftp.storbinary("STOR " + ftp_site.ftp_path(release, name), io.BytesIO(data))
    stored = time.monotonic() - start
    ftp.quit()
    if site.with_hook:
        site.wait_hooks(runs + 1 + len(volumes))
    return stored, time.monotonic() - start


def zantra_pairs(zantra, directory, volumes):
    """Milliseconds of zantra -g -t VOLUME and zantra -g -m, one after the other, for each volume
    of the complete release, as the hook runs them."""
    taken = []
    for name in volumes:
        start = time.perf_counter()
        for arguments in (["-g", "-t", "./rel.sfv", name], ["-g", "-m", "./rel.sfv"]):
            subprocess.run([zantra, *arguments], cwd=directory, stdout=subprocess.DEVNULL, check=False)
        taken.append((time.perf_counter() - start) * 1000)
    return taken


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main():
    args = options()
    if os.geteuid() != 0:
        print("site_bench.py needs root", file=sys.stderr)
        return 2
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    size = int(args.size_mib * 1024 * 1024)
    volumes = {b"rel.r%02d" % i: os.urandom(size) for i in range(args.volumes)}
    listing = ftp_site.sfv([(name, ftp_site.crc(data)) for name, data in volumes.items()])
    total = size * args.volumes
    lock = ftp_site.lock_upload_pipe()
    roots = [tempfile.mkdtemp(prefix="zantra-bench.").encode() for _ in range(2)]
    zantra = os.path.abspath(args.zantra)
    hooked = ftp_site.Site(args, zantra, ftp_site.hook_command("pure-ftpd", source, os.fsencode(zantra), roots[0]),
                           roots[0])
    plain = ftp_site.Site(args, zantra, b"true", roots[1], with_hook=False)
    times = {"plain": [], "stored": [], "hooked": [], "zantra": []}
    try:
        hooked.start()
        plain.start()
        for round_number in range(args.rounds):
            release = b"Bench%d-GRP" % round_number
            times["plain"].append(upload_release(plain, release, volumes, listing)[0])
            stored, done = upload_release(hooked, release, volumes, listing)
            times["stored"].append(stored)
            times["hooked"].append(done)
            complete = os.path.join(hooked.site, release, ftp_site.completion_name(100))
            if not os.path.isdir(complete) or os.path.getsize(hooked.output) != 0:
                raise RuntimeError(f"the hook did not leave {complete} behind, or it printed")
            times["zantra"] += zantra_pairs(hooked.zantra, os.path.join(hooked.site, release), volumes)
            for site in (plain, hooked):
                shutil.rmtree(os.path.join(site.site, release))
        hook_ms = [int(nanoseconds) / 1e6 for status, nanoseconds, path in hooked.hooks()
                   if not path.endswith(b".sfv")]
    finally:
        left = hooked.stop() + plain.stop()
        for root in roots:
            shutil.rmtree(root, ignore_errors=True)
        lock.close()
    if left:
        print(f"processes still running: {left}", file=sys.stderr)
        return 1

    print(f"{args.volumes} volumes of {args.size_mib:g} MiB ({total / 2**20:.0f} MiB), {args.rounds} rounds, "
          f"one FTP session on 127.0.0.1")
    for label, values in (("the hook script per upload, as run", hook_ms),
                          ("zantra -g -t then -g -m per volume", times["zantra"])):
        print(f"{label:40} median {statistics.median(values):6.2f} ms, "
              f"99th percentile {percentile(values, 0.99):6.2f} ms ({len(values)} runs)")
    print(f"{'upload of the whole release':40} {'median s':>9} {'MB/s':>8}")
    for key, label in (("plain", "without the hook"), ("stored", "with the hook, last upload stored"),
                       ("hooked", "with the hook, last hook run")):
        seconds = statistics.median(times[key])
        print(f"{label:40} {seconds:9.3f} {total / seconds / 1e6:8.0f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

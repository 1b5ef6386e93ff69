#!/usr/bin/env python3
"""zantra on a real FTP site, end to end.

pure-ftpd serves a site root in a temporary directory on 127.0.0.1 and hands every finished upload
to pure-uploadscript, which runs one of the shipped hook scripts (examples/site/): the pure-ftpd
script with the upload's absolute path, or glftpd's post_check script with the arguments glftpd
passes (name, directory, CRC). Both servers run with the PATH Debian starts pure-ftpd with, which
holds no zantra: the hook finds the one tested through its ZANTRA= setting, as a site sets it.
Releases are uploaded with ftplib, and after each upload, once the hook has run, the release
directory must show exactly the markers, .bad files and completion directory that the uploads so
far call for: [100%] only once every listed file is there and tested good.
With --hook proftpd the server is ProFTPD, whose mod_exec runs ProFTPD's hook in the session after
every upload, delete and rename, before the reply; proftpd-chroot runs it inside DefaultRoot's
chroot, with a static zantra.

Usage: ftp_site.py --hook pure-ftpd|glftpd --zantra PATH --source TREE --pure-ftpd PATH
                   --pure-uploadscript PATH --pure-pw PATH --openssl PATH
       ftp_site.py --hook proftpd|proftpd-chroot --zantra PATH --source TREE --proftpd PATH
                   --ftpasswd PATH [--busybox PATH]
ZANTRA_TEST_BINARY, when set, names the zantra to test instead of --zantra. Needs root: exits
with 77 (skipped) without it. Every daemon it starts is stopped by its process id at the end,
also when a check fails.
"""

import argparse
import fcntl
import ftplib
import io
import os
import random
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import zlib

SKIP = 77
UPLOADER_UID = 65534  # nobody: the uploads belong to it, the hook runs as root
PASSWORD = "zantra-site"
HOOK_WAIT = 30  # seconds one hook may take to show up in the log
COMPLETION = re.compile(rb"\[(\d{3})%\]-\[-all\.files\.CRC\.ok-\]")
SCRIPTS = {"pure-ftpd": "zantra-pure-upload.sh", "glftpd": "zantra-post-check.sh"}
DEBIAN_PATH = b"/sbin:/bin:/usr/sbin:/usr/bin"  # as /etc/init.d/pure-ftpd sets it
PROFTPD_SCRIPT = "zantra-proftpd-exec.sh"  # run by mod_exec; "proftpd-chroot" runs it in DefaultRoot


def completion_name(percent):
    return b"[%03d%%]-[-all.files.CRC.ok-]" % percent


class Checks:
    """Counts checks and prints each failure with the step it belongs to."""

    def __init__(self):
        self.count = 0
        self.failed = 0
        self.step = ""

    def __call__(self, ok, message):
        self.count += 1
        if not ok:
            self.failed += 1
            print(f"FAIL [{self.step}] {message}", flush=True)
        return ok


def crc(data):
    return b"%08X" % zlib.crc32(data)


def sfv(entries):
    """A list as zantra -c writes one: entries of (name, CRC) in CR LF lines after a comment."""
    lines = [b"; written by ftp_site.py"] + [name + b" " + value for name, value in entries]
    return b"".join(line + b"\r\n" for line in lines)


def volume(release, name, size):
    return random.Random(release + b"/" + name.lower()).randbytes(size)


def damaged(data):
    return bytes([data[0] ^ 0x55]) + data[1:]


def ftp_path(*parts):
    """FTP names travel as latin-1, so that every byte from 0x80 up goes over as it is."""
    return b"/".join(parts).decode("latin-1")


class Site:
    """pure-ftpd and pure-uploadscript on 127.0.0.1 with one uploader, serving root/site."""

    def __init__(self, tools, zantra, hook_command, root, with_hook=True):
        self.tools, self.zantra, self.root = tools, zantra, root
        self.site = os.path.join(root, b"site")
        self.log = os.path.join(root, b"hook.log")  # "status nanoseconds path" per hook run
        self.output = os.path.join(root, b"hook.out")  # whatever the hook scripts print
        self.hook_command, self.with_hook = hook_command, with_hook
        self.daemons = []

    def start(self):
        if not os.access(self.zantra, os.X_OK):
            raise FileNotFoundError(f"no zantra to run at {self.zantra!r}")
        os.chmod(self.root, 0o755)
        os.mkdir(self.site)
        os.chown(self.site, UPLOADER_UID, UPLOADER_UID)
        self.path = DEBIAN_PATH
        self._write_login()
        self.port = free_port()
        low = random.Random().randrange(20000, 60000, 50)
        self._daemon([self.tools.pure_ftpd, "-S", f"127.0.0.1,{self.port}", "-l",
                      b"puredb:" + os.path.join(self.root, b"pwd.pdb"), "-E", "-A", "-H",
                      "-0", "-f", "none", "-c", "20", "-C", "20", "-p", f"{low}:{low + 49}", "-g",
                      os.path.join(self.root, b"pure-ftpd.pid")] + (["-o"] if self.with_hook else []))
        # With -o, pure-ftpd opens the upload pipe before it listens, and that open waits until
        # pure-uploadscript opens the pipe's other end.
        if self.with_hook:
            wrapper = os.path.join(self.root, b"hook.sh")
            with open(wrapper, "wb") as out:
                out.write(b"#!/bin/sh\n# Runs the shipped hook as the server would, then logs it.\ncd / || exit 1\n"
                          b"start=$(date +%s%N)\n" + self.hook_command + b" >>'" + self.output + b"' 2>&1\n"
                          b"status=$?\nend=$(date +%s%N)\n"
                          b"printf '%s %s %s\\n' \"$status\" \"$((end - start))\" \"$1\" >>'" + self.log + b"'\n")
            os.chmod(wrapper, 0o755)
            open(self.log, "wb").close()
            uploadscript = self._daemon([self.tools.pure_uploadscript, "-r", wrapper, "-p",
                                         os.path.join(self.root, b"pure-uploadscript.pid")])
            wait_until(lambda: reads_upload_pipe(uploadscript.pid), 10, "pure-uploadscript reads the pipe")
        wait_until(lambda: connectable(self.port), 10, "pure-ftpd accepts connections")

    def _write_login(self):
        hashed = subprocess.run([self.tools.openssl, "passwd", "-6", "-salt", "zantrasite", PASSWORD],
                                check=True, capture_output=True).stdout.strip()
        entry = b"uploader:%s:%d:%d::%s/./::::::::::::\n" % (hashed, UPLOADER_UID, UPLOADER_UID, self.site)
        with open(os.path.join(self.root, b"pwd"), "wb") as out:
            out.write(entry)
        subprocess.run([self.tools.pure_pw, "mkdb", os.path.join(self.root, b"pwd.pdb"), "-f",
                        os.path.join(self.root, b"pwd")], check=True, capture_output=True)

    def _daemon(self, command):
        environment = {"PATH": self.path, "LC_ALL": "C"}
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, cwd=self.root, env=environment)
        self.daemons.append(process)
        return process

    def stop(self):
        """Stops the hook reader, pure-ftpd's session processes and pure-ftpd, by their ids, and
        returns the ids of those still running afterwards."""
        started = [pid for process in self.daemons for pid in [process.pid] + children(process.pid)]
        for process in reversed(self.daemons):
            for child in children(process.pid):
                kill(child)
            kill(process.pid)
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                kill(process.pid, signal.SIGKILL)
                process.wait(10)
        self.daemons = []
        try:
            wait_until(lambda: not any(map(alive, started)), 10, "the daemons to end")
        except TimeoutError:
            pass
        return [pid for pid in started if alive(pid)]

    def printed(self):
        """What the hook scripts printed."""
        return read(self.output)

    def client(self):
        ftp = ftplib.FTP(encoding="latin-1", timeout=30)
        ftp.connect("127.0.0.1", self.port)
        ftp.login("uploader", PASSWORD)
        return ftp

    def hooks(self):
        """The hook runs so far, as (status, nanoseconds, path)."""
        with open(self.log, "rb") as log:
            return [tuple(line.rstrip(b"\n").split(b" ", 2)) for line in log]

    def wait_hooks(self, count):
        wait_until(lambda: len(self.hooks()) >= count, HOOK_WAIT + count // 2, f"{count} hook runs")

    def upload(self, ftp, release, name, data):
        """Uploads one file and waits until the hook has run for it."""
        runs = len(self.hooks()) if self.with_hook else 0
        ftp.storbinary("STOR " + ftp_path(release, name), io.BytesIO(data))
        if self.with_hook:
            self.wait_hooks(runs + 1)


class ProftpdSite(Site):
    """proftpd -n on 127.0.0.1 with one virtual uploader (ftpasswd's AuthUserFile), serving
    root/site; mod_exec runs the shipped hook after every successful STOR, APPE, DELE and RNTO,
    in the session's own process and as the uploader, and replies once it has ended. Chrooted,
    DefaultRoot is root/jail, which holds only the static zantra, busybox's sh, dev/null, the
    hook and the site. Without a hook, mod_exec is not loaded."""

    def __init__(self, tools, zantra, root, chroot=False, with_hook=True):
        super().__init__(tools, zantra, b"", root, with_hook)
        self.top = os.path.join(root, b"jail") if chroot else root  # what the session sees as /
        self.site = os.path.join(self.top, b"site")
        self.log = os.path.join(root, b"exec.log")  # mod_exec's log: runs, statuses, output
        self.chroot = chroot

    def start(self):
        os.chmod(self.root, 0o755)
        bin_dir = os.path.join(self.top, b"bin")
        os.makedirs(bin_dir)
        script = os.fsencode(PROFTPD_SCRIPT)
        hook = os.path.join(bin_dir, script)
        shutil.copy(os.path.join(os.fsencode(self.tools.source), b"examples", b"site", script), hook)
        if self.chroot:  # all a chrooted hook can run: nothing of the system is found in there
            for program, name in ((self.zantra, b"zantra"), (self.tools.busybox, b"sh")):
                if not statically_linked(program):
                    raise Unsupported(f"{program!r} is not statically linked")
                shutil.copy(program, os.path.join(bin_dir, name))
            os.mkdir(os.path.join(self.top, b"dev"))
            null = os.path.join(self.top, b"dev", b"null")
            os.mknod(null, stat.S_IFCHR, os.makedev(1, 3))
            os.chmod(null, 0o666)
            hook = b"/bin/" + script
        else:
            os.symlink(os.path.abspath(self.zantra), os.path.join(bin_dir, b"zantra"))
        os.mkdir(self.site)
        os.chown(self.site, UPLOADER_UID, UPLOADER_UID)
        subprocess.run([self.tools.ftpasswd, "--passwd", "--name", "uploader", "--uid", str(UPLOADER_UID),
                        "--gid", str(UPLOADER_UID), "--home", self.site, "--shell", "/bin/false", "--file",
                        os.path.join(self.root, b"passwd"), "--stdin"], input=PASSWORD.encode(), check=True,
                       capture_output=True)
        self.port = free_port()
        config = os.path.join(self.root, b"proftpd.conf")
        with open(config, "wb") as out:
            out.write(self._config(hook))
        self.path = b"/usr/sbin:/usr/bin:/sbin:/bin"
        open(self.log, "wb").close()
        os.chmod(self.log, 0o644)
        self._daemon([self.tools.proftpd, "-n", "-c", config])
        wait_until(lambda: connectable(self.port), 10, "proftpd accepts connections")

    def _config(self, hook):
        """Debian's proftpd, run as root from wherever it was unpacked: its modules beside it,
        every file it keeps in the test's directory, nothing looked up on the network."""
        root = self.root.decode("latin-1")
        modules = os.path.join(os.path.dirname(self.tools.proftpd), "..", "lib", "proftpd")
        lines = ["ServerType standalone", "ServerName zantra-site-test", "DefaultAddress 127.0.0.1",
                 "SocketBindTight on", "UseIPv6 off", f"Port {self.port}", "User nobody", "Group nogroup",
                 f"PidFile {root}/proftpd.pid", f"ScoreboardFile {root}/proftpd.scoreboard",
                 "DelayTable none", "WtmpLog off", "UseReverseDNS off", f"SystemLog {root}/proftpd.log",
                 f"TransferLog {root}/xfer.log", "AuthOrder mod_auth_file.c", f"AuthUserFile {root}/passwd",
                 "RequireValidShell off", "Umask 022", "AllowOverwrite on", "MaxInstances 30"]
        if self.chroot:
            lines.append(f"DefaultRoot {self.top.decode('latin-1')}")
        if self.with_hook:
            lines += [f"ModulePath {os.path.abspath(modules)}", "LoadModule mod_exec.c", "ExecEngine on",
                      f"ExecLog {root}/exec.log", "ExecOptions logStdout logStderr", "ExecTimeout 60",
                      f"ExecOnCommand STOR,APPE,DELE,RNTO {hook.decode('latin-1')} %m %F %w"]
            if not self.chroot:  # the zantra under test first, not an installed one
                lines.append(f"ExecEnviron PATH {root}/bin:/usr/bin:/bin")
        return "".join(line + "\n" for line in lines).encode("latin-1")

    def hooks(self):
        """The hook runs so far, as (status, None, b""): the session's lines in mod_exec's log
        say when a hook ended and how, but not how long it took or for which file."""
        with open(self.log, "rb") as log:
            text = log.read()
        runs = re.findall(rb"'[^']*' (?:terminated normally, with exit status (\d+)|died from signal (\d+))", text)
        return [(status or b"signal " + signal_number, None, b"") for status, signal_number in runs]

    def printed(self):
        with open(self.log, "rb") as log:
            return b"\n".join(re.findall(rb"(?m)^.*(?:stdout|stderr) from .*$", log.read()))


class Unsupported(Exception):
    """The test cannot run here: it is skipped."""


def statically_linked(path):
    """An ELF file without a program interpreter (PT_INTERP) needs no shared library."""
    with open(path, "rb") as elf:
        header = elf.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:  # 64-bit only: all this test runs on
            return False
        offset, size, count = (int.from_bytes(header[a:b], "little") for a, b in ((32, 40), (54, 56), (56, 58)))
        elf.seek(offset)
        table = elf.read(size * count)
    return all(int.from_bytes(table[i * size:i * size + 4], "little") != 3 for i in range(count))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def connectable(port):
    try:
        socket.create_connection(("127.0.0.1", port), 1).close()
        return True
    except OSError:
        return False


def reads_upload_pipe(pid):
    fds = f"/proc/{pid}/fd"
    try:
        return any(os.readlink(f"{fds}/{fd}").endswith("pure-ftpd.upload.pipe") for fd in os.listdir(fds))
    except OSError:
        return False


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise TimeoutError(f"gave up after {seconds} s waiting for: {what}")
        time.sleep(0.01)


def process_status(pid):
    """The state letter and the parent of a process, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as status:
            fields = status.read().rsplit(b")", 1)[1].split()
        return fields[0], int(fields[1])
    except (OSError, IndexError, ValueError):
        return None


def alive(pid):
    status = process_status(pid)
    return status is not None and status[0] != b"Z"


def children(pid):
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        status = process_status(entry)
        if status and status[1] == pid:
            found += [int(entry)] + children(int(entry))
    return found


def kill(pid, signal_number=signal.SIGTERM):
    try:
        os.kill(pid, signal_number)
    except ProcessLookupError:
        pass


def bookkeeping(directory):
    """The release's state: names with .missing and .bad, completion percentages, other files."""
    state = {"missing": set(), "bad": {}, "completion": [], "files": {}}
    for entry in os.listdir(directory):
        path = os.path.join(directory, entry)
        info = os.lstat(path)
        match = COMPLETION.fullmatch(entry)
        if match and stat.S_ISDIR(info.st_mode):
            state["completion"].append(int(match.group(1)))
        elif entry.endswith(b".missing") and stat.S_ISREG(info.st_mode) and info.st_size == 0:
            state["missing"].add(entry[: -len(b".missing")])
        elif entry.endswith(b".bad") and stat.S_ISREG(info.st_mode):
            state["bad"][entry[: -len(b".bad")]] = read(path)
        elif stat.S_ISREG(info.st_mode):
            state["files"][entry] = read(path)
        else:
            state["files"][entry] = "not a regular file"
    return state


def read(path):
    with open(path, "rb") as source:
        return source.read()


def snapshot(top, leave_out):
    """Every entry under `top` but `leave_out`: type, mode, size, mtime and file contents."""
    seen = {}
    for directory, subdirectories, files in os.walk(top):
        subdirectories[:] = [d for d in subdirectories if os.path.join(directory, d) != leave_out]
        for name in subdirectories + files:
            path = os.path.join(directory, name)
            info = os.lstat(path)
            seen[path] = (info.st_mode, info.st_size, info.st_mtime_ns,
                          read(path) if stat.S_ISREG(info.st_mode) else None)
    return seen


def names(text):
    return {b"rel." + word.encode() for word in text.split()}


# The volumes of the releases of the table and their sizes: one over the 1 MiB that zantra reads
# at a time, one empty.
VOLUMES = {b"rel.rar": 1_200_000, b"rel.r00": 200_000, b"rel.r01": 65_536, b"rel.r02": 1,
           b"rel.r03": 0, b"rel.r04": 5_000, b"rel.r05": 300_000}
LIST, GOOD, DAMAGED, OTHER = "list", "good", "damaged", "other"
ROTTEN = "damaged on disk"  # no upload and no hook: the file changes in place, as by a disk fault
SECOND_LIST = "second list"  # a list that names other files and a wrong CRC for rel.r00
FORGED = "forged"  # MKD of a [100%] completion directory, then this upload of a file not listed

# Steps of uploads into one release each. After each upload and its hook run, the release must
# hold the .missing markers and the .bad files of the volumes named (short names: r03 is rel.r03)
# and one completion directory with the percentage given; None: no list yet, so no bookkeeping at
# all. Every file uploaded good must still be there as uploaded. A step marked "show" prints the
# release's FTP listing before and after it.
STEPS = [
    # 1. The list first, then the volumes one by one in a shuffled order.
    ("Shuffled-GRP", b"rel.sfv", LIST, "rar r00 r01 r02 r03 r04 r05", "", 0),
    ("Shuffled-GRP", b"rel.r03", GOOD, "rar r00 r01 r02 r04 r05", "", 14),
    ("Shuffled-GRP", b"rel.rar", GOOD, "r00 r01 r02 r04 r05", "", 28),
    ("Shuffled-GRP", b"rel.r05", GOOD, "r00 r01 r02 r04", "", 42),
    ("Shuffled-GRP", b"rel.nfo", OTHER, "r00 r01 r02 r04", "", 42),  # not listed: nothing changes
    ("Shuffled-GRP", b"rel.r00", GOOD, "r01 r02 r04", "", 57, "show"),
    ("Shuffled-GRP", b"rel.r04", GOOD, "r01 r02", "", 71),
    ("Shuffled-GRP", b"rel.r02", GOOD, "r01", "", 85),
    ("Shuffled-GRP", b"rel.r01", GOOD, "", "", 100),
    # 2. A volume damaged in transit becomes .bad; uploaded again intact, all is well again.
    ("Shuffled-GRP", b"rel.r00", DAMAGED, "r00", "r00", 85, "show"),
    ("Shuffled-GRP", b"rel.r00", GOOD, "", "", 100),
    # 3. A verified volume goes bad on disk; the list sent again runs -g -T, which finds it.
    ("Shuffled-GRP", b"rel.r05", ROTTEN, "", "", 100),
    ("Shuffled-GRP", b"rel.sfv", LIST, "r05", "r05", 85),
    ("Shuffled-GRP", b"rel.r05", GOOD, "", "", 100),
    # 4. Volumes before the list (one in capitals, one damaged): the list tests them, marks the
    # ones still absent and renames the damaged one. A second list keeps no books.
    ("Early-GRP", b"rel.r01", GOOD, "", "", None),
    ("Early-GRP", b"REL.R04", GOOD, "", "", None),
    ("Early-GRP", b"rel.r02", DAMAGED, "", "", None),
    ("Early-GRP", b"rel.rar", GOOD, "", "", None),
    ("Early-GRP", b"rel.sfv", LIST, "r00 r02 r03 r05", "r02", 42, "show"),
    ("Early-GRP", b"A.sfv", SECOND_LIST, "r00 r02 r03 r05", "r02", 42),  # sorts first, came later
    ("Early-GRP", b"rel.r00", GOOD, "r02 r03 r05", "r02", 57),
    ("Early-GRP", b"rel.r02", GOOD, "r03 r05", "", 71),
    # 5. A forged [100%] is gone after the next hook, whatever that hook was for.
    ("Early-GRP", b"rel.nfo", FORGED, "r03 r05", "", 71),
]


def release_list(release):
    return sfv([(name, crc(volume(release, name, size))) for name, size in VOLUMES.items()])


def run_steps(site, ftp, checks):
    uploaded = {}  # per release: name on disk -> contents
    for release, name, kind, missing, bad, percent, *show in [(r.encode(), *rest) for r, *rest in STEPS]:
        checks.step = f"{release.decode()}: {kind} {name.decode()}"
        files = uploaded.setdefault(release, {})
        if not files:
            ftp.mkd(ftp_path(release))
        if kind == LIST:
            data = release_list(release)
        elif kind == SECOND_LIST:
            data = sfv([(b"rel.r00", b"00000000"), (b"extra.r00", b"00000000")])
        elif kind in (OTHER, FORGED):
            data = b"not listed\n"
        else:
            data = volume(release, name, VOLUMES[name.lower()])
            data = damaged(data) if kind in (DAMAGED, ROTTEN) else data
        if show:
            print_listing(ftp, release, "before")
        if kind == SECOND_LIST:  # busybox's ls, in ProFTPD's chroot, tells ctimes apart to the second
            time.sleep(1.1)
        elif kind == FORGED:
            ftp.mkd(ftp_path(release, completion_name(100)))
        if kind == ROTTEN:
            with open(os.path.join(site.site, release, name), "r+b") as disk:
                disk.write(data)
        else:
            site.upload(ftp, release, name, data)
        if show:
            print_listing(ftp, release, "after")
        files[name] = data
        state = bookkeeping(os.path.join(site.site, release))
        checks(state["missing"] == names(missing), f"markers for {sorted(state['missing'])}, expected {missing!r}")
        checks(set(state["bad"]) == names(bad), f".bad files {sorted(state['bad'])}, expected {bad!r}")
        checks(state["completion"] == ([] if percent is None else [percent]),
               f"completion directories {state['completion']}, expected {percent}")
        kept = {n: d for n, d in files.items() if n not in state["bad"]}
        checks(state["files"] == kept, f"files {sorted(state['files'])}, expected {sorted(kept)}")
        for bad_name, contents in state["bad"].items():
            checks(contents == files.get(bad_name), f"{bad_name} is not the file uploaded damaged")


def new_release(site, ftp, release, good):
    """Makes the release: its list first, then the volumes named in `good`, each intact."""
    ftp.mkd(ftp_path(release))
    site.upload(ftp, release, b"rel.sfv", release_list(release))
    for name in good:
        site.upload(ftp, release, name, volume(release, name, VOLUMES[name]))
    return os.path.join(site.site, release)


def still_arriving(site, checks):
    """The last volume is half-way up when another upload's hook runs: the listing then shows no
    [100%], and that volume's own hook, once it is complete, does."""
    release, last = b"Arriving-GRP", b"rel.rar"
    ftp = site.client()
    directory = new_release(site, ftp, release, [n for n in VOLUMES if n != last])
    data = volume(release, last, VOLUMES[last])
    runs = len(site.hooks())
    transfer = ftp.transfercmd("STOR " + ftp_path(release, last))
    transfer.sendall(data[: len(data) // 2])
    # Under its name, or in pure-ftpd's hidden temporary file (NoTruncate).
    wait_until(lambda: any(os.path.getsize(os.path.join(directory, n)) >= len(data) // 2
                           for n in os.listdir(directory)), 10, "half a volume")
    other = site.client()
    site.upload(other, release, b"rel.nfo", b"not listed\n")
    other.quit()
    checks.step = f"{release.decode()}: {last.decode()} half-way"
    state = bookkeeping(directory)
    checks(state["missing"] == {last} and state["completion"] == [85],
           f"markers {sorted(state['missing'])}, completion {state['completion']}, expected rel.rar and 85")
    transfer.sendall(data[len(data) // 2:])
    transfer.close()
    ftp.voidresp()
    ftp.quit()
    site.wait_hooks(runs + 2)
    checks.step = f"{release.decode()}: {last.decode()} complete"
    state = bookkeeping(directory)
    checks(not state["missing"] and not state["bad"] and state["completion"] == [100],
           f"markers {sorted(state['missing'])}, .bad {sorted(state['bad'])}, completion {state['completion']}")


def time_set_after(site, checks):
    """A client sets the time of a damaged volume right after its upload (FTP MFMT, as lftp's
    mirror does) while the hook waits out the second a fresh damaged file is given: it still ends
    as .bad with its marker, and the release short of 100 %."""
    release, name = b"Mfmt-GRP", b"rel.r00"
    ftp = site.client()
    directory = new_release(site, ftp, release, [n for n in VOLUMES if n != name])
    sent = damaged(volume(release, name, VOLUMES[name]))
    runs = len(site.hooks())
    ftp.storbinary("STOR " + ftp_path(release, name), io.BytesIO(sent))
    time.sleep(0.5)  # the hook has read the volume by now, and waits until a second has passed
    ftp.sendcmd("MFMT 20090101000000 " + ftp_path(release, name))
    ftp.quit()
    site.wait_hooks(runs + 1)
    checks.step = f"{release.decode()}: damaged {name.decode()}, then MFMT"
    state = bookkeeping(directory)
    checks(state["bad"] == {name: sent} and name not in state["files"], f".bad files {sorted(state['bad'])}")
    checks(state["missing"] == {name} and state["completion"] == [85],
           f"markers {sorted(state['missing'])}, completion {state['completion']}, expected rel.r00 and 85")


def overwrite(site, checks):
    """A damaged upload over a tested volume of a complete release: while its bytes arrive the name
    keeps the tested bytes (pure-ftpd's NoTruncate), so [100%] stays true; once it is whole, its
    hook renames it .bad and marks it."""
    release, name = b"Shuffled-GRP", b"rel.r04"
    directory = os.path.join(site.site, release)
    good = volume(release, name, VOLUMES[name])
    sent = damaged(good)
    ftp = site.client()
    runs = len(site.hooks())
    ftp.voidcmd("TYPE I")
    transfer = ftp.transfercmd("STOR " + ftp_path(release, name))
    transfer.sendall(sent[: len(sent) // 2])
    time.sleep(0.5)  # the half is on the server by now
    checks.step = f"{release.decode()}: {name.decode()} overwritten, half-way"
    state = bookkeeping(directory)
    checks(state["completion"] == [100] and state["files"].get(name) == good,
           f"completion {state['completion']} while {name.decode()} holds other bytes than the tested ones")
    transfer.sendall(sent[len(sent) // 2:])
    transfer.close()
    ftp.voidresp()
    ftp.quit()
    site.wait_hooks(runs + 1)
    checks.step = f"{release.decode()}: {name.decode()} overwritten, complete"
    state = bookkeeping(directory)
    checks(state["bad"] == {name: sent} and state["missing"] == {name} and state["completion"] == [85],
           f".bad {sorted(state['bad'])}, markers {sorted(state['missing'])}, completion {state['completion']}")


def padded_list(site, checks):
    """A list with padded columns, as RHash or hkSFV write it, reaches [100%] with no stray marker."""
    checks.step = "Padded-GRP: a list with padded columns"
    release = b"Padded-GRP"
    data = {n: volume(release, n, VOLUMES[n]) for n in (b"rel.r00", b"rel.r01")}
    ftp = site.client()
    ftp.mkd(ftp_path(release))
    site.upload(ftp, release, b"rel.sfv", b"".join(n + b"    " + crc(d) + b"\r\n" for n, d in data.items()))
    for name, contents in data.items():
        site.upload(ftp, release, name, contents)
    ftp.quit()
    state = bookkeeping(os.path.join(site.site, release))
    checks(not state["missing"] and not state["bad"] and state["completion"] == [100],
           f"markers {sorted(state['missing'])}, .bad {sorted(state['bad'])}, completion {state['completion']}")


def print_listing(ftp, release, when):
    print(f"--- FTP listing of {release.decode()} {when} the upload:")
    ftp.dir(ftp_path(release), lambda line: print("    " + line))


def crowd(site, checks, clients=4, count=40):
    """Four clients upload into one release at once while zantra -g -T runs there in a loop.
    Never are there two completion directories; afterwards every good volume is there as
    uploaded, and the last hook has left the bookkeeping that -g -T leaves on a quiet copy."""
    checks.step = "Crowd-GRP: four clients at once"
    release = b"Crowd-GRP"
    volumes = {b"crowd.r%02d" % i: volume(release, b"%d" % i, 500_000) for i in range(count)}
    ordered = list(volumes)
    absent, bad_one = ordered[count - 4:], ordered[7]
    sent = {n: (damaged(d) if n == bad_one else d) for n, d in volumes.items() if n not in absent}
    ftp = site.client()
    ftp.mkd(ftp_path(release))
    site.upload(ftp, release, b"crowd.sfv", sfv([(n, crc(d)) for n, d in volumes.items()]))
    ftp.quit()
    directory = os.path.join(site.site, release)
    runs_before = len(site.hooks())
    shares = [list(sent)[k::clients] for k in range(clients)]
    errors = []

    def upload_share(share):
        try:
            session = site.client()
            for name in share:  # at a pace that lets the runs of -T meet the uploads
                session.storbinary("STOR " + ftp_path(release, name), io.BytesIO(sent[name]), 16384,
                                   lambda block: time.sleep(0.002))
            session.quit()
        except (OSError, EOFError, ftplib.Error) as error:
            errors.append(error)

    threads = [threading.Thread(target=upload_share, args=(share,)) for share in shares]
    for thread in threads:
        thread.start()
    loops, overlapping, doubled, deadline = 0, 0, 0, time.monotonic() + 120
    while (any(t.is_alive() for t in threads) or len(site.hooks()) < runs_before + len(sent)) \
            and loops < 500 and time.monotonic() < deadline:
        overlapping += any(t.is_alive() for t in threads)
        zantra(site.zantra, directory, "-g", "-T", "crowd.sfv")
        doubled += sum(1 for entry in os.listdir(directory) if COMPLETION.fullmatch(entry)) > 1
        loops += 1
    for thread in threads:
        thread.join(60)
    checks(not errors, f"uploads failed: {errors}")
    checks(overlapping > 0, "no zantra -g -T run overlapped the uploads")
    checks(not doubled, f"two completion directories after {doubled} runs of -g -T")
    site.wait_hooks(runs_before + len(sent))
    state = bookkeeping(directory)
    for name, data in sent.items():
        if name != bad_one:
            checks(state["files"].get(name) == data, f"{name} lost, renamed or changed")
    checks(state["bad"] == {bad_one: sent[bad_one]}, f".bad files {sorted(state['bad'])}")

    quiet = os.path.join(site.root, b"quiet")
    os.mkdir(quiet)
    for name in list(state["files"]) + [n + b".bad" for n in state["bad"]]:
        shutil.copyfile(os.path.join(directory, name), os.path.join(quiet, name))
    status = zantra(site.zantra, quiet, "-g", "-T", "crowd.sfv")
    calm = bookkeeping(quiet)
    checks(status == 2, f"-g -T status {status} on the quiet copy, expected 2")
    for part in ("missing", "bad", "completion"):
        checks(state[part] == calm[part], f"{part}: {state[part]} after the last hook, {calm[part]} on a quiet copy")
    checks(calm["missing"] == set(absent) | {bad_one} and calm["completion"] == [87],
           f"quiet copy: markers {sorted(calm['missing'])}, completion {calm['completion']}")
    print(f"crowd: {len(sent)} uploads by {clients} clients, {loops} runs of zantra -g -T, "
          f"{overlapping} of them during the uploads")


def zantra(binary, directory, *arguments):
    return subprocess.run([binary, *arguments], cwd=directory, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode


# Deletes and renames in the release of STEPS once it is complete, each handed to the hook by
# mod_exec before the command's reply: right after the reply the release holds the markers and
# .bad files of the volumes named and the percentage given. An entry of the first column is an
# FTP command in the release's directory, or (name, kind) for an upload.
MOVES = [
    (["DELE rel.r01"], "r01", "", 85),
    (["RNFR rel.r02", "RNTO ../Aside-GRP/rel.r02"], "r01 r02", "", 71),  # the old directory's books
    (["RNFR ../Aside-GRP/rel.r02", "RNTO rel.r02"], "r01", "", 85),  # back and tested
    ([(b"rel.r01", DAMAGED)], "r01", "r01", 85),
    (["RNFR rel.r01.bad", "RNTO rel.r01"], "r01", "r01", 85),  # tested again: still bad
    ([(b"rel.r01", GOOD)], "", "", 100),
]


def moves(site, checks):
    """The steps of MOVES, in the release that STEPS completed."""
    release = b"Shuffled-GRP"
    directory = os.path.join(site.site, release)
    ftp = site.client()
    ftp.mkd("Aside-GRP")
    ftp.cwd(ftp_path(release))
    for commands, missing, bad, percent in MOVES:
        checks.step = f"{release.decode()}: {' then '.join(map(str, commands))}"
        for command in commands:
            if isinstance(command, tuple):
                data = volume(release, command[0], VOLUMES[command[0]])
                data = damaged(data) if command[1] == DAMAGED else data
                ftp.storbinary("STOR " + ftp_path(command[0]), io.BytesIO(data))
            else:
                ftp.sendcmd(command)
        state = bookkeeping(directory)
        checks(state["missing"] == names(missing), f"markers for {sorted(state['missing'])}, expected {missing!r}")
        checks(set(state["bad"]) == names(bad), f".bad files {sorted(state['bad'])}, expected {bad!r}")
        checks(state["completion"] == [percent], f"completion directories {state['completion']}, expected {percent}")
    ftp.quit()


CANARY = b"zantra-pwned"


def hostile(site, checks):
    """A hostile list changes nothing outside its release, and no name it holds or any upload
    bears runs as a command."""
    checks.step = "Hostile-GRP: a hostile list"
    release = b"Hostile-GRP"
    directory = os.path.join(site.site, release)
    good = {b"rel.r00": volume(release, b"rel.r00", 4_000), b"-rf.r01": b"leading dash\n",
            b"$(touch${IFS}" + CANARY + b");.r02": b"command substitution\n"}
    listed = [(b"../Shuffled-GRP/rel.r00", b"00000000"), (site.site + b"/Shuffled-GRP/rel.r01", b"00000000"),
              (b"../rel.r02", b"00000000"), (b"/", b"00000000"), (b"..", b"00000000"), (b".", b"00000000"),
              (b"sub/../../rel.r03", b"00000000"), (b"--help", b"00000000"), (b"-g", b"00000000"),
              # Listed before rel.r00, whose name begins with it: the good rel.r00 must not be
              # tested against this entry (needs the exact-match rule of -t).
              (b"rel.r00.x", b"00000000")]
    listed += [(name, crc(data)) for name, data in good.items()]
    listed += [(b"`touch${IFS}" + CANARY + b"`", b"00000000"), (b"x;touch${IFS}" + CANARY + b";", b"00000000"),
               (b"%s%s%s%s%n%n%n%n", b"00000000"), (b"%999999999d", b"00000000"), (b"\x1b[2J", b"00000000")]
    before = snapshot(site.site, directory)
    ftp = site.client()
    ftp.mkd(ftp_path(release))
    list_name = b"-T $(touch${IFS}" + CANARY + b");.sfv"
    site.upload(ftp, release, list_name, sfv(listed))
    for name, data in good.items():
        site.upload(ftp, release, name, data)
    ftp.quit()
    after = snapshot(site.site, directory)
    changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
    checks(not changed, f"changed outside the release: {changed}")
    hits = [os.path.join(d, n) for d, subs, files in os.walk(site.root) for n in subs + files if n == CANARY]
    hits += [b"/" + CANARY] if os.path.lexists(b"/" + CANARY) else []  # the hook starts in /
    checks(not hits, f"a name ran as a command: {hits}")
    state = bookkeeping(directory)
    checks(state["files"] == {list_name: sfv(listed), **good}, f"files {sorted(state['files'])}")
    checks(not state["bad"], f"good uploads renamed: {sorted(state['bad'])}")
    checks(len(state["completion"]) == 1, f"completion directories {state['completion']}")


NAMES = [b"My Rel.r05", "Café.r06".encode(), b"Caf\xe9.r07", "中文.r08".encode()]


def odd_names(site, checks):
    """Names with blanks and bytes outside ASCII verify like any other, and the release reaches
    [100%] with no stray marker."""
    release = b"Names-GRP"
    directory = os.path.join(site.site, release)
    data = {name: volume(release, name, 10_000 + 1_000 * i) for i, name in enumerate(NAMES)}
    ftp = site.client()
    ftp.mkd(ftp_path(release))
    site.upload(ftp, release, b"names.sfv", sfv([(n, crc(d)) for n, d in data.items()]))
    steps = [(n, GOOD) for n in NAMES[1:]] + [(NAMES[0], DAMAGED), (NAMES[1], DAMAGED), (NAMES[0], GOOD),
                                              (NAMES[1], GOOD)]
    for name, kind in steps:
        checks.step = f"Names-GRP: {kind} {name!r}"
        sent = damaged(data[name]) if kind == DAMAGED else data[name]
        site.upload(ftp, release, name, sent)
        state = bookkeeping(directory)
        if kind == DAMAGED:
            checks(state["bad"].get(name) == sent and name not in state["files"], f"{name!r} is not .bad")
        else:
            checks(state["files"].get(name) == sent and name not in state["bad"], f"{name!r} is not kept")
        absent = {n for n in NAMES if n not in state["files"]}
        checks(state["missing"] == absent, f"markers {sorted(state['missing'])}, expected {sorted(absent)}")
    ftp.quit()
    checks.step = "Names-GRP: all there"
    checks(bookkeeping(directory)["completion"] == [100], "the release of names with blanks is not at 100 %")
    checks(zantra(site.zantra, directory, "-T", "names.sfv") == 0, "zantra -T does not find the release intact")


def guide_quotes(source, checks):
    """The site guide's quotes of the shipped scripts are the scripts, word for word."""
    checks.step = "doc/site.md quotes the shipped scripts"
    with open(os.path.join(source, "doc", "site.md"), encoding="utf-8") as guide:
        text = guide.read()
    quoted = [re.sub(r"(?m)^    ", "", block) for block in re.findall(r"(?m)^    #!/bin/sh\n(?:    .*\n|\n)*", text)]
    for script in SCRIPTS.values():
        with open(os.path.join(source, "examples", "site", script), encoding="utf-8") as shipped:
            body = shipped.read()
        checks(body in [q.rstrip("\n") + "\n" for q in quoted], f"doc/site.md does not quote {script} as shipped")
    checks(len(quoted) == len(SCRIPTS), f"doc/site.md quotes {len(quoted)} scripts, {len(SCRIPTS)} are shipped")


def finding_zantra(site, hook, checks):
    """The shipped hook, its ZANTRA= left empty, finds zantra on PATH; with no zantra to run it
    says so once on standard error and ends with 0, having done nothing."""
    work = os.path.join(site.root, b"finding")
    release, bin_dir = os.path.join(work, b"Find-GRP"), os.path.join(work, b"bin")
    os.makedirs(release)
    os.mkdir(bin_dir)
    os.symlink(os.fsencode(site.zantra), os.path.join(bin_dir, b"zantra"))
    data = volume(b"Find-GRP", b"rel.r00", 1000)
    with open(os.path.join(release, b"rel.sfv"), "wb") as out:
        out.write(sfv([(b"rel.r00", crc(data)), (b"rel.r01", crc(b""))]))
    with open(os.path.join(release, b"rel.r00"), "wb") as out:
        out.write(data)
    for setting, path, found in ((b"", bin_dir + b":" + DEBIAN_PATH, True),
                                 (b"/nonexistent/zantra", DEBIAN_PATH, False)):
        checks.step = f"the hook with ZANTRA={setting.decode()!r} and PATH={path.decode()}"
        before = bookkeeping(release)
        command = hook_command(hook, site.tools.source, setting, work)
        run = subprocess.run([b"/bin/sh", b"-c", command, b"sh", os.path.join(release, b"rel.r00")],
                             env={"PATH": path}, capture_output=True, timeout=60)
        after = bookkeeping(release)
        checks(run.returncode == 0 and not run.stdout, f"status {run.returncode}, printed {run.stdout!r}")
        if found:
            checks(not run.stderr, f"it printed {run.stderr!r}")
            checks(after["missing"] == {b"rel.r01"} and after["completion"] == [50],
                   f"markers {sorted(after['missing'])}, completion {after['completion']}")
        else:
            checks(re.fullmatch(rb"zantra not found \(set ZANTRA= in [^\n]*\): [^\n]*/rel\.r00 not checked\n",
                                run.stderr), f"it said {run.stderr!r}")
            checks(after == before, "it changed the release")


def hook_command(hook, source, zantra, directory):
    """The command that runs the shipped hook as the server would, from a copy in `directory` whose
    ZANTRA= line names `zantra`, as a site sets it (empty: as shipped)."""
    name = os.fsencode(SCRIPTS.get(hook, PROFTPD_SCRIPT))
    with open(os.path.join(os.fsencode(source), b"examples", b"site", name), "rb") as shipped:
        text = shipped.read()
    script = os.path.join(directory, name)
    with open(script, "wb") as out:
        out.write(re.sub(rb"(?m)^ZANTRA=$", b"ZANTRA='" + zantra + b"'", text, count=1))
    os.chmod(script, 0o755)
    if hook == "glftpd":  # the arguments glftpd passes: name, directory, CRC (none computed)
        return b"'" + script + b"' \"${1##*/}\" \"${1%/*}\" 000000"
    if hook == "proftpd":  # mod_exec's %m %F %w after a STOR
        return b"'" + script + b"' STOR \"$1\" -"
    return b"'" + script + b"' \"$1\""


def options():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hook", choices=sorted(SCRIPTS) + ["proftpd", "proftpd-chroot"], required=True)
    for name in ("zantra", "source"):
        parser.add_argument("--" + name, required=True)
    for name in ("pure-ftpd", "pure-uploadscript", "pure-pw", "openssl", "proftpd", "ftpasswd", "busybox"):
        parser.add_argument("--" + name)
    args = parser.parse_args()
    tools = {"proftpd": ["proftpd", "ftpasswd"], "proftpd-chroot": ["proftpd", "ftpasswd", "busybox"]}
    for name in tools.get(args.hook, ["pure-ftpd", "pure-uploadscript", "pure-pw", "openssl"]):
        if getattr(args, name.replace("-", "_")) is None:
            parser.error(f"--hook {args.hook} needs --{name}")
    return args


def lock_upload_pipe():
    """pure-ftpd's upload pipe has one fixed path: one site test on this machine at a time."""
    lock = open("/run/lock/zantra-site-test.lock", "w")
    wait_until(lambda: try_lock(lock), 600, "another site test to finish")
    for pid in [e for e in os.listdir("/proc") if e.isdigit()]:
        try:
            with open(f"/proc/{pid}/comm") as comm:
                other = comm.read().strip() == "pure-uploadscri"
        except OSError:
            continue
        if other:
            raise RuntimeError(f"pure-uploadscript (pid {pid}) already reads the upload pipe")
    return lock


def try_lock(lock):
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        return False


def main():
    args = options()
    if os.geteuid() != 0:
        print("skipped: the servers' logins and hooks need root")
        return SKIP
    args.zantra = os.path.abspath(os.environ.get("ZANTRA_TEST_BINARY") or args.zantra)
    args.source = os.path.abspath(args.source)
    checks = Checks()
    guide_quotes(args.source, checks)
    proftpd = args.hook.startswith("proftpd")
    lock = None if proftpd else lock_upload_pipe()  # ProFTPD's hooks need no pipe
    root = tempfile.mkdtemp(prefix="zantra-site.").encode()
    if proftpd:
        site = ProftpdSite(args, args.zantra, root, chroot=args.hook == "proftpd-chroot")
    else:
        site = Site(args, args.zantra, hook_command(args.hook, args.source, os.fsencode(args.zantra), root), root)
    skipped = None
    try:
        site.start()
        ftp = site.client()
        run_steps(site, ftp, checks)
        ftp.quit()
        if args.hook == "proftpd-chroot":  # the uploads of STEPS and MOVES show enough in there
            scenarios = [moves]
        elif proftpd:  # ProFTPD replies to a STOR after its hook: no MFMT can come while it waits
            scenarios = [moves, still_arriving, crowd, hostile, odd_names]
        else:
            scenarios = [still_arriving, time_set_after, overwrite, padded_list, crowd, hostile, odd_names]
        for scenario in scenarios:
            scenario(site, checks)
        if args.hook != "proftpd-chroot":
            finding_zantra(site, args.hook, checks)
        runs = site.hooks()
        checks.step = "every hook run"
        checks(all(status == b"0" for status, _, _ in runs), f"hook statuses {sorted({s for s, _, _ in runs})}")
        checks(not site.printed(), "the hook printed: " + site.printed()[:500].decode("latin-1"))
    except Unsupported as reason:
        skipped = reason
    except (OSError, EOFError, ftplib.Error) as error:
        checks(False, f"stopped: {error!r}")
    finally:
        left = site.stop()
        checks.step = "cleanup"
        checks(not left, f"processes still running: {left}")
        shutil.rmtree(root, ignore_errors=True)
        if lock:
            lock.close()
    if skipped and not checks.failed:
        print(f"skipped: {skipped}")
        return SKIP
    print(f"site {args.hook}: {checks.count} checks, {checks.failed} failed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The moravine program in a hostile environment.

Runs the real program as root and, where it matters, as the unprivileged
user nobody, against planted links, FIFOs, files that change while they are
read, full disks, unreadable folders, signals and closed pipes. Every test
works in a folder of its own and leaves nothing behind.

Usage: hostile_test.py --moravine PATH [unittest arguments]
"""

import argparse
import os
import pwd
import random
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import ci_unittest  # noqa: E402  (the shared main, in tests/)

MORAVINE = None
ROOT = os.geteuid() == 0
WORDS = ("whale ship sea captain harpoon boat deck mast sail wind storm water "
         "island sailor ocean wave rope anchor crew voyage").split()


def text(n_lines, seed=1):
    rnd = random.Random(seed)
    return "".join(" ".join(rnd.choice(WORDS) for _ in range(10)) + "\n" for _ in range(n_lines))


def write(path, data, mode=None):
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    if mode is not None:
        os.chmod(path, mode)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(*args, user=None, timeout=60, env=None, **kw):
    cmd = [MORAVINE, *args]
    if user:
        cmd = ["setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups", *cmd]
    return subprocess.run(cmd, capture_output=True, timeout=timeout, env=env, **kw)


def leftovers(folder):
    """Moravine's own temporary files below a folder."""
    found = []
    for dirpath, _, files in os.walk(folder):
        found += [os.path.join(dirpath, f) for f in files if f.startswith(".moravine-") or f.startswith("agrep.")]
    return found


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="moravine-hostile-")
        os.chmod(self.dir, 0o755)

    def tearDown(self):
        for dirpath, dirs, _ in os.walk(self.dir):
            for d in dirs:
                os.chmod(os.path.join(dirpath, d), 0o755)
        self.assertEqual(leftovers(self.dir), [])
        shutil.rmtree(self.dir)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def compressed(self, name, data, *args):
        write(self.path(name), data)
        r = run("-q", "compress", *args, self.path(name))
        self.assertEqual(r.returncode, 0, r.stderr)
        return read(self.path(name + ".hwz"))


@unittest.skipUnless(ROOT, "needs root")
class Owners(Case):
    def test_setuid_archive_decompressed_by_root_gives_a_plain_program_of_its_owner(self):
        nobody = pwd.getpwnam("nobody")
        self.compressed("tool", read(sys.executable)[:200000])
        os.remove(self.path("tool"))
        hwz = self.path("tool.hwz")
        os.chown(hwz, nobody.pw_uid, nobody.pw_gid)
        os.chmod(hwz, 0o6755 | stat.S_ISVTX)
        os.utime(hwz, (1000000000, 1200000000))
        r = run("-q", "decompress", hwz)
        self.assertEqual(r.returncode, 0, r.stderr)
        st = os.stat(self.path("tool"))
        self.assertEqual(stat.S_IMODE(st.st_mode), 0o755)
        self.assertEqual((st.st_uid, st.st_gid), (nobody.pw_uid, nobody.pw_gid))
        self.assertEqual((int(st.st_atime), int(st.st_mtime)), (1000000000, 1200000000))

    def test_root_compressing_a_users_file_keeps_owner_mode_and_times(self):
        nobody = pwd.getpwnam("nobody")
        write(self.path("private.txt"), text(200), 0o640)
        os.chown(self.path("private.txt"), nobody.pw_uid, nobody.pw_gid)
        os.utime(self.path("private.txt"), ns=(1100000000123456789, 1300000000987654321))
        self.assertEqual(run("-q", "compress", self.path("private.txt")).returncode, 0)
        st = os.stat(self.path("private.txt.hwz"))
        self.assertEqual((stat.S_IMODE(st.st_mode), st.st_uid), (0o640, nobody.pw_uid))
        self.assertEqual((st.st_atime_ns, st.st_mtime_ns), (1100000000123456789, 1300000000987654321))
        # The user can go on with the file root made.
        os.remove(self.path("private.txt"))
        os.chmod(self.dir, 0o777)
        r = run("-q", "decompress", self.path("private.txt.hwz"), user="nobody")
        self.assertEqual(r.returncode, 0, r.stderr)


class Removals(Case):
    def test_a_removal_never_deletes_the_only_good_copy(self):
        body = text(50)
        good = self.compressed("src.txt", body)
        other = self.compressed("other.txt", text(50, seed=2))
        cases = {  # name: (command, what NAME is, what NAME.hwz is)
            "link-to-archive": ("remove-compressed", "link:{n}.hwz", good),
            "empty": ("remove-compressed", b"", good),
            "different": ("remove-compressed", body + "x", good),
            "fifo": ("remove-compressed", "fifo", good),
            "folder": ("remove-compressed", "folder", good),
            "archive-link": ("remove-original", body, "link:src.txt.hwz"),
            "damaged": ("remove-original", body, good[:len(good) // 2]),
            "other-text": ("remove-original", body, other),
            "archive-fifo": ("remove-original", body, "fifo"),
        }
        for name, (command, original, archive) in cases.items():
            for path, what in ((self.path(name), original), (self.path(name + ".hwz"), archive)):
                if isinstance(what, str) and what.startswith("link:"):
                    os.symlink(what[5:].format(n=name), path)
                elif what == "fifo":
                    os.mkfifo(path)
                elif what == "folder":
                    os.mkdir(path)
                else:
                    write(path, what)
            kept = self.path(name + ".hwz") if command == "remove-compressed" else self.path(name)
            before = os.lstat(kept)
            r = run("-q", command, kept if command == "remove-compressed" else self.path(name), timeout=20)
            self.assertTrue(os.path.lexists(kept), name)
            self.assertEqual(os.lstat(kept).st_ino, before.st_ino, name)
            self.assertNotEqual(r.returncode, 128 + signal.SIGKILL, name)
        # A whole-folder walk changes nothing either.
        snapshot = sorted(os.listdir(self.dir))
        for command in ("remove-compressed", "remove-original"):
            run("-q", command, self.dir, timeout=30)
        self.assertTrue(set(snapshot) - {"src.txt", "src.txt.hwz", "other.txt", "other.txt.hwz"} <=
                        set(os.listdir(self.dir)))

    def test_removals_of_both_kinds_at_once_leave_every_text(self):
        texts = {f"t{i}.txt": text(3, seed=i) for i in range(400)}
        for name, data in texts.items():
            write(self.path(name), data)
        self.assertEqual(run("-q", "-j", "2", "compress", self.dir).returncode, 0)
        a = subprocess.Popen([MORAVINE, "-q", "remove-original", self.dir], stderr=subprocess.DEVNULL)
        b = subprocess.Popen([MORAVINE, "-q", "remove-compressed", self.dir], stderr=subprocess.DEVNULL)
        a.wait(120)
        b.wait(120)
        for name, data in texts.items():
            if os.path.exists(self.path(name)):
                self.assertEqual(read(self.path(name)).decode(), data)
            else:
                r = run("-q", "decompress", self.path(name + ".hwz"))
                self.assertEqual((r.returncode, read(self.path(name)).decode()), (0, data), name)


def edit_in_place(path, data):
    """Rewrites the start of the file in place and puts its times back, as
    rsync --inplace -t does. True when the file still had its name once the
    edit was done: an edit that a removal must not lose."""
    try:
        fd = os.open(path, os.O_WRONLY)
    except FileNotFoundError:
        return False
    try:
        st = os.fstat(fd)
        os.pwrite(fd, data, 0)
        os.utime(fd, ns=(st.st_atime_ns, st.st_mtime_ns))
        return os.fstat(fd).st_nlink > 0
    finally:
        os.close(fd)


class EditedWhileRemoved(Case):
    """An editor that rewrites a file in place and restores its modification
    time while the file is being removed: the edit is never lost."""

    def test_single_removals_keep_every_edited_file(self):
        rnd = random.Random(11)
        body = text(40)
        hwz = self.compressed("f.txt", body)
        path = self.path("f.txt")
        edit = body[:5].upper().encode()
        commands = (("remove-original", path, path), ("remove-compressed", path + ".hwz", path + ".hwz"))

        def prepare():
            write(path, body)
            write(path + ".hwz", hwz)
            os.utime(path, ns=(1500000000 * 10**9, 1500000000 * 10**9))

        # How long a removal takes, start to end: the edits fall in that span.
        spans = []
        for command, given, _ in commands * 3:
            prepare()
            start = time.monotonic()
            self.assertEqual(run("-q", command, given).returncode, 0)
            spans.append(time.monotonic() - start)
        span = sorted(spans)[len(spans) // 2]
        seen = {"lost": 0, "kept, edited during the removal": 0, "kept, open for writing": 0,
                "kept, edited before the comparison": 0, "removed, then edited": 0}
        for i in range(300):
            command, given, doomed = commands[i % 2]
            prepare()
            proc = subprocess.Popen([MORAVINE, "-q", command, given], stderr=subprocess.PIPE)
            time.sleep(rnd.uniform(0, span))
            linked = edit_in_place(doomed, edit)
            _, err = proc.communicate(timeout=30)
            if not os.path.exists(doomed):
                seen["lost" if linked else "removed, then edited"] += 1
            elif b"changed while they were compared" in err:
                seen["kept, edited during the removal"] += 1
            elif b"is open for writing in another program" in err:
                seen["kept, open for writing"] += 1
            else:
                self.assertTrue(b"does not hold the text" in err or b"is damaged" in err or not linked, err)
                seen["kept, edited before the comparison"] += 1
        print(f"\n{seen} (a removal takes {span * 1000:.1f} ms)", file=sys.stderr)
        self.assertEqual(seen["lost"], 0, seen)
        # The edits did reach the removals (on a fast file system few fall
        # between the comparison and the last look).
        kept = sum(n for outcome, n in seen.items() if outcome.startswith("kept"))
        self.assertGreater(kept, 0, seen)

    def test_a_file_open_for_writing_elsewhere_is_kept(self):
        # A writer that holds the file open may write at any moment, even
        # after the last look; the file is kept until it lets go.
        self.compressed("f.txt", text(5))
        path = self.path("f.txt.hwz")
        for command, doomed in (("remove-original", self.path("f.txt")), ("remove-compressed", path)):
            with open(doomed, "r+b"):
                r = run(command, doomed)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(b"is open for writing in another program", r.stderr)
                self.assertTrue(os.path.exists(doomed))
            self.assertEqual(run("-q", command, doomed).returncode, 0)
            self.assertFalse(os.path.exists(doomed))
            if command == "remove-original":
                self.assertEqual(run("-q", "decompress", path).returncode, 0)

    def test_a_folder_removal_keeps_every_edited_file(self):
        names = [f"t{i}.txt" for i in range(600)]
        rnd = random.Random(12)
        lost = []
        edited_in_time = 0
        for command in ("remove-original", "remove-compressed"):
            for i, name in enumerate(names):
                write(self.path(name), text(3, seed=i))
            self.assertEqual(run("-q", "compress", self.dir).returncode, 0)
            for name in names:
                os.utime(self.path(name), ns=(1500000000 * 10**9, 1500000000 * 10**9))
            linked = set()
            proc = subprocess.Popen([MORAVINE, "-q", command, self.dir], stderr=subprocess.DEVNULL)
            while proc.poll() is None:
                name = rnd.choice(names)
                target = self.path(name if command == "remove-original" else name + ".hwz")
                if edit_in_place(target, b"\x00" if command == "remove-compressed" else b"W"):
                    linked.add(target)
                time.sleep(rnd.uniform(0, 0.002))
            lost += [target for target in linked if not os.path.exists(target)]
            edited_in_time += len(linked)
            for name in os.listdir(self.dir):
                os.remove(self.path(name))
        print(f"\n{edited_in_time} files edited while they had their name, {len(lost)} of them lost",
              file=sys.stderr)
        self.assertEqual(lost, [])


class SpecialFiles(Case):
    def test_fifos_and_devices_are_refused_without_blocking(self):
        os.mkfifo(self.path("pipe"))
        os.mkfifo(self.path("pipe.hwz"))
        for args in (("info", self.path("pipe.hwz")), ("compress", self.path("pipe")),
                     ("decompress", self.path("pipe.hwz")), ("search", "x", self.path("pipe.hwz")),
                     ("info", "/dev/zero"), ("remove-original", self.path("pipe"))):
            r = run("-q", *args, timeout=20)
            self.assertNotEqual(r.returncode, 0, args)
            self.assertIn(b"moravine: ", r.stderr, args)

    def test_a_file_cut_short_while_it_is_read_is_reported(self):
        big = self.path("big.txt")
        write(big, text(400000))
        for _ in range(3):
            shutil.copy(big, self.path("work.txt"))
            proc = subprocess.Popen([MORAVINE, "-q", "compress", self.path("work.txt")], stderr=subprocess.PIPE)
            time.sleep(0.05)
            os.truncate(self.path("work.txt"), 4096)
            _, err = proc.communicate(timeout=60)
            self.assertIn(proc.returncode, (0, 1), err)  # never a crash
            if proc.returncode == 1:
                self.assertIn(b"changed while it was read", err)
                self.assertFalse(os.path.exists(self.path("work.txt.hwz")))
            if os.path.exists(self.path("work.txt.hwz")):
                os.remove(self.path("work.txt.hwz"))

    def test_names_that_fill_the_name_limit(self):
        for length in (235, 251):
            name = "n" * length
            self.compressed(name, text(20))
            os.remove(self.path(name))
            r = run("-q", "decompress", self.path(name + ".hwz"))
            self.assertEqual((r.returncode, read(self.path(name)).decode()), (0, text(20)), r.stderr)

    def test_walks_skip_moravine_temporary_files(self):
        write(self.path("a.txt"), text(5))
        tmp = self.path(".moravine-123-4.a.txt.hwz")
        write(tmp, text(5))
        self.assertEqual(run("-q", "compress", self.dir).returncode, 0)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted([".moravine-123-4.a.txt.hwz", "a.txt", "a.txt.hwz"]))
        os.remove(tmp)


class Folders(Case):
    def test_a_folder_of_a_hundred_thousand_files(self):
        folder = self.path("many")
        os.mkdir(folder)
        for i in range(100000):
            write(os.path.join(folder, f"{i}.txt"), "w")
        r = run("-q", "compress", folder, timeout=600)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual(len(os.listdir(folder)), 200000)

    @unittest.skipUnless(ROOT, "needs root to become nobody")
    def test_unreadable_folders_are_named_and_fail_the_command(self):
        os.chmod(self.dir, 0o777)
        for sub in ("open", "closed"):
            os.mkdir(self.path(sub))
            write(self.path(sub, "a.txt"), text(5))
        subprocess.run(["chown", "-R", "nobody", self.dir], check=True)
        self.assertEqual(run("-q", "compress", self.path("open"), user="nobody").returncode, 0)
        os.chmod(self.path("closed"), 0)
        r = run("-q", "compress", self.dir, user="nobody")
        self.assertEqual(r.returncode, 1)
        self.assertIn(self.path("closed").encode(), r.stderr)
        self.assertIn(b"Permission denied", r.stderr)
        r = run("-q", "search", "whale", self.dir, user="nobody")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"whale", r.stdout)


    @unittest.skipUnless(ROOT, "needs root to become nobody")
    def test_a_named_path_needs_no_listing_of_the_folders_above_it(self):
        # A folder that nobody may list but may pass through: the commands
        # on a file or folder inside it look at that path alone.
        os.chmod(self.dir, 0o777)
        os.makedirs(self.path("unlisted", "inner"))
        write(self.path("unlisted", "inner", "a.txt"), "the whale and the sea\n")
        write(self.path("unlisted", "inner", "b.txt"), "a ship\n")
        subprocess.run(["chown", "-R", "nobody", self.dir], check=True)
        os.chmod(self.path("unlisted"), 0o311)
        a = self.path("unlisted", "inner", "a.txt")
        r = run("-q", "compress", a, user="nobody")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        r = run("-q", "search", "whale", a + ".hwz", user="nobody")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"whale", r.stdout)
        r = run("-q", "remove-original", a, user="nobody")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertFalse(os.path.exists(a))
        r = run("-q", "compress", self.path("unlisted", "inner"), user="nobody")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertTrue(os.path.exists(self.path("unlisted", "inner", "b.txt.hwz")))
        r = run("-q", "compress", self.path("unlisted", "inner", "absent.txt"), user="nobody")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"absent.txt: no such file or directory", r.stderr)


class Signals(Case):
    def archives(self, n):
        for i in range(n):
            write(self.path(f"t{i}.txt"), text(2, seed=i))
        self.assertEqual(run("-q", "compress", self.dir).returncode, 0)

    def test_signals_stop_removals_at_once(self):
        self.archives(2000)
        count = lambda: len([f for f in os.listdir(self.dir) if not f.endswith(".hwz")])
        caught = 0
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            originals = count()
            proc = subprocess.Popen([MORAVINE, "-q", "remove-original", self.dir], stderr=subprocess.PIPE)
            while count() == originals and proc.poll() is None:  # signalled once removals are under way
                time.sleep(0.005)
            proc.send_signal(sig)
            _, err = proc.communicate(timeout=60)
            if proc.returncode == 0 and count() == 0:
                # On a busy machine the whole batch can end before the
                # signal comes: give the next signal a fresh folder.
                for name in os.listdir(self.dir):
                    os.remove(self.path(name))
                self.archives(2000)
                continue
            self.assertEqual(proc.returncode, 128 + sig, err)
            left = count()
            self.assertGreater(left, 0, sig)
            self.assertLess(left, originals, sig)
            caught += 1
            if left < 300:
                break
        self.assertGreater(caught, 0, "every batch ended before its signal")

    def test_a_signal_at_any_moment_ends_the_program_cleanly(self):
        # Signals that land while a batch starts, works or ends: the program
        # ends with success, the signal's status, or (before it set up its
        # handling) the signal's default end, and a checked build reports no
        # fault.
        self.archives(40)
        rnd = random.Random(4)
        for attempt in range(60):
            sig = rnd.choice((signal.SIGINT, signal.SIGTERM, signal.SIGHUP))
            proc = subprocess.Popen([MORAVINE, "-q", "search", "-c", "whale", self.dir],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            time.sleep(rnd.uniform(0, 0.03))
            proc.send_signal(sig)
            _, err = proc.communicate(timeout=60)
            self.assertIn(proc.returncode, (0, 128 + sig, -sig), err)
            self.assertNotIn(b"runtime error", err)
            self.assertNotIn(b"Sanitizer", err)

    def test_signals_during_compression_leave_no_temporary_file(self):
        write(self.path("big.txt"), text(30000) * 60)  # about 100 MB: long enough to be caught at work
        for sig, twice in ((signal.SIGHUP, False), (signal.SIGTERM, False), (signal.SIGINT, True)):
            proc = subprocess.Popen([MORAVINE, "-q", "compress", self.path("big.txt")], stderr=subprocess.PIPE)
            time.sleep(0.1)
            if proc.poll() is not None:  # done before the signal could come
                proc.communicate()
                continue
            proc.send_signal(sig)
            if twice:
                time.sleep(0.02)
                proc.send_signal(sig)
            _, err = proc.communicate(timeout=60)
            self.assertEqual(proc.returncode, 128 + sig, err)
            self.assertEqual(leftovers(self.dir), [])
            if os.path.exists(self.path("big.txt.hwz")):
                os.remove(self.path("big.txt.hwz"))

    def test_a_closed_pipe_ends_the_search_quietly(self):
        self.archives(300)
        tmp = self.path("tmp")
        os.mkdir(tmp)
        env = dict(os.environ, TMPDIR=tmp)
        proc = subprocess.Popen([MORAVINE, "-q", "-j", "2", "search", "whale", self.dir], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        proc.stdout.readline()
        proc.stdout.close()
        err = proc.stderr.read()
        proc.wait(60)
        self.assertEqual((proc.returncode, err), (128 + signal.SIGPIPE, b""))
        self.assertEqual(os.listdir(tmp), [])


class Output(Case):
    def test_a_full_output_is_an_error(self):
        self.compressed("a.txt", text(50))
        with open("/dev/full", "wb") as full:
            r = subprocess.run([MORAVINE, "-q", "search", "whale", self.dir], stdout=full, stderr=subprocess.PIPE)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"error writing to standard output: No space left on device", r.stderr)

    def test_messages_read_as_one_sentence(self):
        write(self.path("a.txt"), text(2000))
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))
        r = run("-q", "compress", self.path("a.txt"), preexec_fn=limit)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b": Error writing to archive file: File too large\n", r.stderr)
        self.assertNotIn(b".:", r.stderr)
        for args, named in ((("search", "-e", "-3", "w", "."), b"from 0 to"), (("--frobnicate",), b"--frobnicate"),
                            (("compress", "--words", "--spaceless", "x"), b"--")):
            r = run(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertIn(named, r.stderr.splitlines()[0], args)

    def test_log_keeps_each_jobs_lines_together(self):
        os.mkdir(self.path("in"))
        for i in range(24):
            write(self.path("in", f"t{i}.txt"), text(300, seed=i))
        write(self.path("in", "bad.txt.hwz"), b"\x00not an archive")
        log = self.path("log")
        run("-q", "-j", "2", "--log", log, "decompress", self.path("in"))
        run("-q", "-j", "2", "--log", log + "2", "compress", self.path("in"))
        for name in (log, log + "2"):
            chunks = read(name).decode(errors="replace").split("\n=== ")[1:]
            self.assertEqual(len(chunks), 1 if name == log else 24)
            for chunk in chunks:
                header = chunk.splitlines()[0]
                self.assertEqual(chunk.count("==="), 1, chunk)  # no other job's header inside
                if "Compressing" in header:
                    self.assertEqual(chunk.count("Global infos"), 1, chunk)
        os.remove(log)
        os.remove(log + "2")

    def test_search_refuses_unknown_rules_and_escapes_control_bytes(self):
        name = "odd\r\nname.txt"
        hwz = bytearray(self.compressed(name, text(50)))
        r = run("search", "whale", self.path(name + ".hwz"))
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"odd\\r\\nname.txt.hwz:", r.stdout)
        self.assertNotIn(b"\r", r.stdout)
        hwz[0] = 2
        write(self.path(name + ".hwz"), bytes(hwz))
        r = run("search", "whale", self.path(name + ".hwz"))
        self.assertEqual((r.returncode, r.stdout), (2, b""))

    def test_another_agrep_on_path_is_not_used(self):
        self.compressed("a.txt", text(50))
        fake = self.path("bin")
        os.mkdir(fake)
        write(os.path.join(fake, "agrep"), "#!/bin/sh\necho 'some other program'\n", 0o755)
        env = dict(os.environ, PATH=fake + ":" + os.environ["PATH"])
        r = run("-q", "search", "whale", self.path("a.txt.hwz"), env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"whale", r.stdout)


def main():
    global MORAVINE
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    args, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(args.moravine)
    ci_unittest.main([sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()

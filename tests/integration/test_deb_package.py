"""The Debian package, built with CPack from this build: its control data and contents; then
installed with apt-get on this machine, the installed program run against a Dovecot of the
test's own, the installed uninstaller run with a recorded removal, and the package removed
with apt-get, after which nothing of it is left under /usr.

Needs root and apt-get (it skips without them). It never replaces a package orvanta that it
did not install itself, serialises with the same test of other build trees, and removes the
package however it ends; a run killed half-way is cleaned up by the next one."""
import fcntl
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import unmoor_run
from test_install import (ACCOUNTS, LIBRARIES, InstalledOrvanta, check_run_paths, check_serves_pop3, read_entry,
                          validate_desktop_entry)

BINARY_DIR = os.environ.get("ORVANTA_BINARY_DIR", "build")
PACKAGE = "orvanta"
VERSION = "1.2.0"
LOCK = os.path.join("/run/lock" if os.path.isdir("/run/lock") else "/tmp", "orvanta-package-test.lock")
# Present while the package on the machine is this test's own.
MARKER = "/var/lib/orvanta-package-test"
APT = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=120"]
APT_ENV = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
NOBODY = 65534

CONTENTS = {
    "./etc/xdg/autostart/orvanta.desktop",
    "./usr/bin/orvanta -> ../lib/orvanta/orvanta",
    "./usr/bin/unmoor -> ../lib/orvanta/unmoor",
    "./usr/bin/orvanta-learn -> ../lib/orvanta/orvanta-learn",
    "./usr/lib/orvanta/orvanta",
    "./usr/lib/orvanta/freshet",
    "./usr/lib/orvanta/unmoor",
    "./usr/lib/orvanta/orvanta-learn",
    "./usr/share/applications/orvanta.desktop",
    "./usr/share/applications/Orvanta Zidevoz 1.0/Orvanta 제거.desktop",
    "./usr/share/icons/hicolor/scalable/apps/orvanta.svg",
    "./usr/share/icons/hicolor/scalable/apps/unmoor.svg",
} | {"./usr/lib/orvanta/lib/lib%s.so" % name for name in LIBRARIES}
# The directories that are the package's alone.
OWN_DIRECTORIES = ["/usr/lib/orvanta", "/usr/share/applications/Orvanta Zidevoz 1.0"]


def run(argv, timeout=120, env=None, cwd=None):
    r = subprocess.run(argv, capture_output=True, timeout=timeout, env=env, cwd=cwd)
    assert r.returncode == 0, "%s:\n%s" % (" ".join(argv), (r.stdout + r.stderr).decode(errors="replace"))
    return r.stdout.decode(errors="replace")


def package_installed():
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], capture_output=True, timeout=30)
    return r.returncode == 0 and b"installed" in r.stdout.split()[-1:]


def package_known():
    """Installed or with its configuration files left."""
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], capture_output=True, timeout=30)
    return r.returncode == 0 and not r.stdout.endswith(b"not-installed")


def purge():
    if package_known():
        run(APT + ["purge", PACKAGE], env=APT_ENV)
    if os.path.exists(MARKER):
        os.remove(MARKER)


class PackageTests(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("installing the package needs root")
        if not (shutil.which("apt-get") and shutil.which("dpkg-deb") and shutil.which("dpkg-query")):
            self.skipTest("apt-get, dpkg-deb and dpkg-query are needed to install the package")
        self.lock = open(LOCK, "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        self.addCleanup(self.lock.close)
        if package_known():
            if not os.path.exists(MARKER):
                self.skipTest("a package orvanta that this test did not install is on the machine")
            purge()  # left by a run that was killed
        self.root = tempfile.mkdtemp(prefix="orvanta-deb-")
        self.addCleanup(shutil.rmtree, self.root, True)
        # Whatever happens from here on, the package goes again.
        self.addCleanup(purge)

    def build(self):
        out = os.path.join(self.root, "out")
        os.makedirs(out)
        run(["cpack", "-G", "DEB", "--config", os.path.join(BINARY_DIR, "CPackConfig.cmake"), "-B", out],
            timeout=150)
        deb = os.path.join(out, "%s_%s_%s.deb" % (PACKAGE, VERSION, run(["dpkg", "--print-architecture"]).strip()))
        self.assertTrue(os.path.isfile(deb), os.listdir(out))
        return deb

    def check_control(self, deb):
        fields = {}
        for line in run(["dpkg-deb", "--field", deb]).splitlines():
            if line[:1] not in (" ", ""):
                key, _, value = line.partition(":")
                fields[key] = value.strip()
        self.assertEqual(fields["Package"], PACKAGE)
        self.assertEqual(fields["Version"], VERSION)
        self.assertEqual(fields["Architecture"], run(["dpkg", "--print-architecture"]).strip())
        self.assertEqual(fields["Recommends"], "pkexec")
        # From the shared libraries: the system's, none of ours (they come with the package).
        depends = [d.strip().split()[0] for d in fields["Depends"].split(",")]
        for needed in ("libc6", "libqt6widgets6", "libqt6svg6", "libsqlite3-0", "libcurl4", "libssl3"):
            self.assertIn(needed, depends, fields["Depends"])
        for ours in LIBRARIES:
            self.assertFalse(any(ours in d for d in depends), fields["Depends"])
        self.assertEqual(run(["dpkg-deb", "--info", deb, "conffiles"]).split(), ["/etc/xdg/autostart/orvanta.desktop"])

        listing = run(["dpkg-deb", "--contents", deb]).splitlines()
        entries = set()
        for line in listing:
            mode, owner, _size, _date, _time, name = line.split(None, 5)
            self.assertEqual(owner, "root/root", line)
            if mode.startswith("d"):
                continue
            entries.add(name)
            if name.startswith("./usr/lib/orvanta/") and name.count("/") == 4:
                self.assertEqual(mode, "-rwxr-xr-x", line)
        self.assertEqual(entries, CONTENTS)

    def test_package_installs_runs_and_removes_cleanly(self):
        started = time.time()
        deb = self.build()
        self.check_control(deb)

        with open(MARKER, "w") as f:
            f.write(deb + "\n")
        run(APT + ["install", "--no-install-recommends", deb], env=APT_ENV, timeout=180)
        self.assertTrue(package_installed())
        for entry in ("/usr/share/applications/orvanta.desktop",
                      "/usr/share/applications/Orvanta Zidevoz 1.0/Orvanta 제거.desktop",
                      "/etc/xdg/autostart/orvanta.desktop"):
            validate_desktop_entry(self, entry)
        self.assertEqual(read_entry("/etc/xdg/autostart/orvanta.desktop")["Exec"], '"/usr/lib/orvanta/orvanta" /start')
        check_run_paths(self, "/usr/lib/orvanta")

        # An ordinary user may not write below /usr: the installed program, started with no
        # home, keeps its user/ and temp/ in that user's ~/.local/share/orvanta.
        orvanta = InstalledOrvanta("/usr/bin/orvanta")
        user_home = os.path.join(orvanta.root, "nobody")
        os.makedirs(user_home)
        orvanta.env["HOME"] = user_home
        for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME"):
            orvanta.env.pop(name, None)
        os.chmod(orvanta.root, 0o755)
        for d, _dirs, files in os.walk(orvanta.root):
            os.chown(d, NOBODY, NOBODY)
            for name in files:
                os.chown(os.path.join(d, name), NOBODY, NOBODY)
        as_nobody = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--"]
        orvanta.args = lambda *extra: as_nobody + InstalledOrvanta.args(orvanta, *extra)
        try:
            orvanta.start()
            check_serves_pop3(self, orvanta, runner=as_nobody)
            data = os.path.join(user_home, ".local", "share", "orvanta")
            orvanta.wait_line("Orvanta home: %s (the programs in /usr/lib/orvanta)" % data)
            self.assertTrue(os.path.isdir(os.path.join(data, "temp")))
            self.assertEqual(os.stat(os.path.join(data, "user")).st_uid, NOBODY)
        finally:
            orvanta.stop()  # removes the user's home with the rest of its directory
        self.assertFalse(os.path.exists("/usr/lib/orvanta/user"))
        self.assertFalse(os.path.exists("/usr/lib/orvanta/temp"))

        # The installed uninstaller knows the package manager removes it; with a recorder
        # named instead it restores the accounts and hands over.
        env = dict(os.environ, ORVANTA_REGISTRY=os.path.join(self.root, "registry.db"))
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "ORVANTA_REMOVE_COMMAND"):
            env.pop(name, None)
        r = unmoor_run.run(["/usr/bin/unmoor"], env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("  start the removal: apt-get remove -y orvanta", r.stdout.decode())
        seed = os.path.join(self.root, "seed.reg")
        with open(seed, "w") as f:
            f.write('REGEDIT4\n\n[%s\\00000001]\n"POP3 USER Name"="kim#mailhost#110"\n"POP3 BACKUP"="mailhost"\n'
                    '"POP3 USER BACKUP"="kim"\n\n[%s\\00002002]\n"ORVANTA ACCOUNT"="Orvanta"\n' % (ACCOUNTS, ACCOUNTS))
        run([os.path.join(BINARY_DIR, "bin", "orvanta-reg"), "import", seed], env=env)
        record = os.path.join(self.root, "removals")
        env["ORVANTA_REMOVE_COMMAND"] = "echo \"$(id -u) started\" >> '%s'" % record
        r = unmoor_run.run(["/usr/bin/unmoor", "--yes"], env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("restored the POP3 account 00000001", r.stdout.decode())
        with open(record) as f:
            self.assertEqual(f.read(), "0 started\n")

        run(APT + ["remove", PACKAGE], env=APT_ENV, timeout=180)
        self.assertFalse(package_installed())
        for entry in CONTENTS:
            path = entry[1:].split(" -> ")[0]
            if path.startswith("/usr/"):
                self.assertFalse(os.path.lexists(path), path)
        for directory in OWN_DIRECTORIES:
            self.assertFalse(os.path.lexists(directory), directory)
        left = run(["find", "/usr", "-xdev", "(", "-iname", "*orvanta*", "-o", "-iname", "unmoor*", "-o",
                    "-iname", "freshet*", ")", "-print"], timeout=120)
        self.assertEqual(left, "")
        # The autostart entry is a configuration file: it goes with the purge.
        purge()
        self.assertFalse(os.path.exists("/etc/xdg/autostart/orvanta.desktop"))
        self.assertLess(time.time() - started, 170)


if __name__ == "__main__":
    unittest.main(verbosity=2)

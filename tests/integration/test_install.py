"""`make install` into temporary trees: with DESTDIR every file lands where the layout says,
the run paths point into the tree, every desktop entry passes desktop-file-validate, the
uninstaller's entry has the bytes the main program writes itself, and the installed orvanta
serves POP3 from there to a real client against a Dovecot of the test's own. Into a real
prefix, the installed uninstaller's OK removes what the install listed and keeps the data.
Also holds what the package's test shares: the installed program's launcher and checks."""
import os
import poplib
import shutil
import subprocess
import sys
import tempfile
import unittest

import unmoor_run
from dovecot import Dovecot
from test_orvanta_instance import Orvanta

BINARY_DIR = os.environ.get("ORVANTA_BINARY_DIR", "build")
ACCOUNTS = r"HKEY_CURRENT_USER\Software\Microsoft\Internet Account Manager\Accounts"
LIBRARIES = ["platform", "toolwick", "almanac", "ledgerly", "parsewick", "fetchling", "sievelet", "winnow", "harborage"]
MENU_FOLDER = "share/applications/Orvanta Zidevoz 1.0"
UNINSTALL_ENTRY = MENU_FOLDER + "/Orvanta 제거.desktop"

# Below the prefix, what every installation holds (links marked with their target).
LAYOUT = {
    "lib/orvanta/orvanta": None,
    "lib/orvanta/freshet": None,
    "lib/orvanta/unmoor": None,
    "lib/orvanta/orvanta-learn": None,
    "bin/orvanta": "../lib/orvanta/orvanta",
    "bin/unmoor": "../lib/orvanta/unmoor",
    "bin/orvanta-learn": "../lib/orvanta/orvanta-learn",
    "share/applications/orvanta.desktop": None,
    UNINSTALL_ENTRY: None,
    "share/icons/hicolor/scalable/apps/orvanta.svg": None,
    "share/icons/hicolor/scalable/apps/unmoor.svg": None,
}
LAYOUT.update({"lib/orvanta/lib/lib%s.so" % name: None for name in LIBRARIES})


def install(prefix, destdir=None, home=None):
    env = dict(os.environ)
    env.pop("XDG_CONFIG_HOME", None)
    env.pop("DESTDIR", None)
    if destdir:
        env["DESTDIR"] = destdir
    if home:
        env["HOME"] = home
    r = subprocess.run(["cmake", "--install", BINARY_DIR, "--prefix", prefix], env=env, capture_output=True,
                       timeout=300)
    assert r.returncode == 0, (r.stdout + r.stderr).decode(errors="replace")


def tree(root):
    """Every file and link below root, relative, with the links' targets."""
    found = {}
    for d, dirs, files in os.walk(root):
        for name in files + [x for x in dirs if os.path.islink(os.path.join(d, x))]:
            path = os.path.join(d, name)
            found[os.path.relpath(path, root)] = os.readlink(path) if os.path.islink(path) else None
    return found


def validate_desktop_entry(test, path):
    r = subprocess.run(["desktop-file-validate", path], capture_output=True, timeout=30)
    out = (r.stdout + r.stderr).decode(errors="replace")
    test.assertEqual(r.returncode, 0, path + ":\n" + out)
    test.assertNotIn("error:", out, path)


def read_entry(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    test_keys = {}
    for line in lines[1:]:
        key, _, value = line.partition("=")
        test_keys[key] = value
    assert lines[0] == "[Desktop Entry]", lines
    return test_keys


def check_run_paths(test, programs_dir):
    """The programs find the libraries beside them and nothing of the build tree."""
    env = dict(os.environ)
    env.pop("LD_LIBRARY_PATH", None)
    for program in ("orvanta", "freshet", "unmoor", "orvanta-learn"):
        path = os.path.join(programs_dir, program)
        dyn = subprocess.run(["readelf", "-d", path], capture_output=True, timeout=30).stdout.decode()
        test.assertIn("[$ORIGIN/lib]", dyn, program)
        test.assertNotIn(os.path.realpath(BINARY_DIR), dyn, program)
        ldd = subprocess.run(["ldd", path], env=env, capture_output=True, timeout=30).stdout.decode()
        test.assertNotIn("not found", ldd, program + ":\n" + ldd)
        for line in ldd.splitlines():
            name = line.split()[0] if line.strip() else ""
            if name.startswith("lib") and name[3:-3] in LIBRARIES:
                test.assertIn(os.path.join(programs_dir, "lib", name), line, program + ":\n" + ldd)
    for name in LIBRARIES:
        dyn = subprocess.run(["readelf", "-d", os.path.join(programs_dir, "lib", "lib%s.so" % name)],
                             capture_output=True, timeout=30).stdout.decode()
        test.assertIn("[$ORIGIN]", dyn, name)


class InstalledOrvanta(Orvanta):
    """An installed orvanta, headless, with the test's registry, ports and runtime directory;
    its data directory is that of its program directory unless `home` is given."""

    def __init__(self, program, home=None, data_home=None):
        super().__init__()
        self.program = program
        self.installed_home = home
        if data_home:
            self.env["XDG_DATA_HOME"] = data_home

    def args(self, *extra):
        home = ["--home", self.installed_home] if self.installed_home else []
        return [self.program, "--headless", *home,
                "--ports", "%d,%d,%d" % (self.pop3_port, self.smtp_port, self.imap_port), *extra]


# A POP3 client run as another user: the proxy serves only the user it runs as.
CLIENT_AS_USER = """
import poplib, sys
client = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=30)
client.user(sys.argv[2])
client.pass_("pw")
count = client.stat()[0]
lines = client.retr(1)[1]
client.quit()
sys.stdout.write("%d %s" % (count, b"hello from dovecot" in lines))
"""


def check_serves_pop3(test, orvanta, runner=None):
    """A real POP3 client reads a message of the test's Dovecot through the running program;
    the client runs as `runner` (a command prefix) when the program does."""
    body = b"From: a@example.org\r\nTo: alice@example.org\r\nSubject: installed\r\n\r\nhello from dovecot\r\n"
    with Dovecot({"alice": "pw"}, protocols=("pop3",)) as dovecot:
        dovecot.add_message("alice", body)
        user = "alice#127.0.0.1#%d" % dovecot.pop3_port
        if runner:
            r = subprocess.run(runner + [sys.executable, "-c", CLIENT_AS_USER, str(orvanta.pop3_port), user],
                               capture_output=True, timeout=60)
            test.assertEqual((r.returncode, r.stdout), (0, b"1 True"), r.stderr.decode(errors="replace"))
            return
        client = poplib.POP3("127.0.0.1", orvanta.pop3_port, timeout=30)
        try:
            client.user(user)
            client.pass_("pw")
            test.assertEqual(client.stat()[0], 1)
            lines = client.retr(1)[1]
            test.assertIn(b"hello from dovecot", lines)
        finally:
            client.quit()


class InstallTests(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvanta-install-")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def test_destdir_install_is_complete_and_runs(self):
        prefix = "/home/tester/.local"
        dest = os.path.join(self.root, "dest")
        install(prefix, destdir=dest, home="/home/tester")
        installed = dest + prefix

        expected = {os.path.join(prefix[1:], path): link for path, link in LAYOUT.items()}
        expected["home/tester/.local/lib/orvanta/installed-files.txt"] = None
        expected["home/tester/.config/autostart/orvanta.desktop"] = None
        self.assertEqual(tree(dest), expected)
        for program in ("orvanta", "freshet", "unmoor"):
            self.assertTrue(os.access(os.path.join(installed, "lib/orvanta", program), os.X_OK), program)
        check_run_paths(self, os.path.join(installed, "lib/orvanta"))

        # The list for the uninstaller: every installed file under its final name, then the
        # directories that are the installation's own.
        with open(os.path.join(installed, "lib/orvanta/installed-files.txt"), encoding="utf-8") as f:
            listed = f.read().splitlines()
        files = sorted("/" + path for path in expected)
        self.assertEqual(sorted(line for line in listed if not line.endswith("/")), files)
        self.assertEqual([line for line in listed if line.endswith("/")],
                         [prefix + "/lib/orvanta/lib/", prefix + "/lib/orvanta/", prefix + "/" + MENU_FOLDER + "/"])

        entries = [os.path.join(installed, "share/applications/orvanta.desktop"),
                   os.path.join(installed, UNINSTALL_ENTRY),
                   os.path.join(dest, "home/tester/.config/autostart/orvanta.desktop")]
        for entry in entries:
            validate_desktop_entry(self, entry)
        main = read_entry(entries[0])
        self.assertEqual(main["Exec"], '"%s/lib/orvanta/orvanta"' % prefix)
        self.assertEqual(main["TryExec"], "%s/lib/orvanta/orvanta" % prefix)
        self.assertEqual(main["Icon"], "orvanta")
        self.assertEqual(read_entry(entries[2])["Exec"], '"%s/lib/orvanta/orvanta" /start' % prefix)
        with open(entries[1], "rb") as f:
            uninstall_entry = f.read()

        # The installed program runs from the tree: its data below its program directory, and
        # at its start it writes the uninstaller's entry over the installed one, byte for byte
        # the same but for where this tree lies.
        orvanta = InstalledOrvanta(os.path.join(installed, "lib/orvanta/orvanta"),
                                   data_home=os.path.join(installed, "share"))
        try:
            orvanta.start()
            check_serves_pop3(self, orvanta)
            self.assertTrue(os.path.isdir(os.path.join(installed, "lib/orvanta/user")))
            info = orvanta.reg("query", r"HKCU\Software\Pellix Technology\Orvanta\INFO").stdout.decode()
            self.assertIn(os.path.join(installed, "lib/orvanta"), info)
        finally:
            orvanta.stop()
        with open(entries[1], "rb") as f:
            self.assertEqual(f.read(), uninstall_entry.replace(prefix.encode(), installed.encode()))

        # Without a display its uninstaller says which removal OK would start.
        env = dict(os.environ, ORVANTA_REGISTRY=os.path.join(self.root, "registry.db"))
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "ORVANTA_REMOVE_COMMAND"):
            env.pop(name, None)
        r = unmoor_run.run([os.path.join(installed, "bin/unmoor")], env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("  start the removal: %s/lib/orvanta/unmoor --remove-files %s/lib/orvanta/installed-files.txt"
                      % (installed, installed), r.stdout.decode())

    def test_the_uninstaller_removes_a_user_install_and_keeps_the_data(self):
        prefix = os.path.join(self.root, "prefix")
        home = os.path.join(self.root, "home")
        os.makedirs(os.path.join(home, ".config/autostart"))
        # What is not the installation's stays: another entry, the commands' directory.
        with open(os.path.join(home, ".config/autostart/other.desktop"), "w") as f:
            f.write("[Desktop Entry]\n")
        install(prefix, home=home)
        self.assertTrue(os.path.exists(os.path.join(home, ".config/autostart/orvanta.desktop")))
        data = os.path.join(prefix, "lib/orvanta/user/pass.flt")
        os.makedirs(os.path.dirname(data))
        with open(data, "wb") as f:
            f.write(b"kept")

        registry = os.path.join(self.root, "registry.db")
        env = dict(os.environ, ORVANTA_REGISTRY=registry, HOME=home)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "ORVANTA_REMOVE_COMMAND", "XDG_CONFIG_HOME"):
            env.pop(name, None)
        seed = os.path.join(self.root, "seed.reg")
        with open(seed, "w") as f:
            f.write('REGEDIT4\n\n[%s\\00000001]\n"POP3 USER Name"="kim#mailhost#110"\n'
                    '"POP3 BACKUP"="mailhost"\n"POP3 USER BACKUP"="kim"\n\n'
                    '[%s\\00002002]\n"ORVANTA ACCOUNT"="Orvanta"\n' % (ACCOUNTS, ACCOUNTS))
        reg = os.path.join(BINARY_DIR, "bin", "orvanta-reg")
        subprocess.run([reg, "import", seed], env=env, check=True, capture_output=True, timeout=20)

        r = unmoor_run.run([os.path.join(prefix, "bin/unmoor"), "--yes"], env)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("restored the POP3 account 00000001", r.stdout.decode())
        # The namespace's run ended with the removal: only the data and the shared
        # directories are left.
        self.assertEqual(tree(prefix), {"lib/orvanta/user/pass.flt": None})
        for kept in ("bin", "share/applications", "share/icons/hicolor/scalable/apps"):
            self.assertTrue(os.path.isdir(os.path.join(prefix, kept)), kept)
        self.assertEqual(os.listdir(os.path.join(home, ".config/autostart")), ["other.desktop"])
        exported = subprocess.run([reg, "export", ACCOUNTS, "-"], env=env, capture_output=True, timeout=20)
        self.assertIn(b'"POP3 USER Name"="kim"', exported.stdout)
        self.assertNotIn(b"00002002", exported.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)

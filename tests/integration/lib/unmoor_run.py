"""Runs the uninstaller where only the test's own processes run.

The uninstaller refuses to work while any process of the machine is the main program, and
other tests (of this build or another) run the main program at the same time. So each run
gets a PID namespace with its own /proc: there the uninstaller sees only itself, the program
`beside` it when given (started first, as a running main program would be), and the removal
it starts, which the namespace's first process waits for before the run ends.

run(argv, env, beside=None, timeout=60) -> subprocess.CompletedProcess (bytes)
"""
import os
import shutil
import subprocess

# The namespace's first process: starts `beside`, runs the command, then waits (bounded) until
# the processes it left behind (the removal) have ended, reaping them as an init does.
_INIT = r'''
b=
if [ -n "$UNMOOR_BESIDE" ]; then
  "$UNMOOR_BESIDE" 30 &
  b=$!
  i=0
  while [ "$(readlink /proc/$b/exe)" != "$UNMOOR_BESIDE" ] && [ $i -lt 500 ]; do i=$((i+1)); sleep 0.01; done
fi
"$@"
rc=$?
if [ -n "$b" ]; then kill -9 "$b"; wait "$b" 2>/dev/null; fi
i=0
while [ $i -lt 400 ]; do
  n=0
  for p in /proc/[0-9]*; do
    read -r s < "$p/stat" 2>/dev/null || continue
    case "${s##*) }" in Z*) ;; *) n=$((n+1)) ;; esac
  done
  [ $n -le 1 ] && break
  i=$((i+1))
  sleep 0.05
done
exit $rc
'''


def _namespace():
    unshare = shutil.which("unshare")
    if not unshare:
        return None
    base = [unshare, "--pid", "--fork", "--mount-proc"]
    if os.geteuid() != 0:
        base.insert(1, "--map-root-user")
    probe = subprocess.run(base + ["true"], capture_output=True, timeout=20)
    return base if probe.returncode == 0 else None


_BASE = _namespace()


def run(argv, env, beside=None, timeout=60):
    if _BASE is None:
        raise RuntimeError("cannot make a PID namespace (unshare --pid --mount-proc) for the uninstaller's run")
    env = dict(env, UNMOOR_BESIDE=beside or "")
    return subprocess.run(_BASE + ["/bin/sh", "-c", _INIT, "unmoor-init", *argv], env=env,
                          capture_output=True, timeout=timeout)

"""The SpamAssassin public corpus for integration tests, fetched at test time.

API
---
corpus_dir() -> str
    Runs the fetch script ($ORVANTA_CORPUS_SCRIPT, default scripts/fetch-corpus.sh under
    $ORVANTA_SOURCE_DIR) once per process and returns the messages directory
    (<dir>/<group>/*.eml, CRLF line ends). Raises RuntimeError when the fetch fails.
groups() -> [str]
    The group names (sub-directories), sorted.
messages(group=None, limit=None) -> [str]
    Paths of the .eml files, sorted by group and name; only one group when given; at most
    `limit` of them.
read(path) -> bytes
"""
import os
import subprocess

_cached = None


def _script():
    script = os.environ.get("ORVANTA_CORPUS_SCRIPT")
    if script:
        return script
    source = os.environ.get("ORVANTA_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", "..", ".."))
    return os.path.join(source, "scripts", "fetch-corpus.sh")


def corpus_dir():
    global _cached
    if _cached is None:
        proc = subprocess.run(["bash", _script()], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=900)
        lines = proc.stdout.decode(errors="replace").strip().splitlines()
        if proc.returncode != 0 or not lines or not os.path.isdir(lines[-1]):
            raise RuntimeError("corpus fetch failed: " + proc.stderr.decode(errors="replace"))
        _cached = lines[-1]
    return _cached


def groups():
    root = corpus_dir()
    return sorted(d for d in os.listdir(root) if os.path.isdir(os.path.join(root, d)))


def messages(group=None, limit=None):
    root = corpus_dir()
    result = []
    for g in ([group] if group else groups()):
        d = os.path.join(root, g)
        result += [os.path.join(d, n) for n in sorted(os.listdir(d)) if n.endswith(".eml")]
        if limit is not None and len(result) >= limit:
            break
    return result[:limit] if limit is not None else result


def read(path):
    with open(path, "rb") as f:
        return f.read()

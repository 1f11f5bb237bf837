# SPDX-License-Identifier: Apache-2.0
"""What the tests of `reburn3 serve` share: simulated devices, the service, requests."""
import atexit
import json
import os
import re
import signal
import subprocess
import tempfile
import time
import sys
import urllib.error
import urllib.request

# The checks and the one line per case (tests/support/cases.py), for every script here.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from cases import case, check, finish  # noqa: E402,F401


def schema_validator(docs):
    """A validator of docs/reburn3-serve.schema.json, its results by reburn3-json's."""
    import jsonschema
    serve, flash = (json.load(open(os.path.join(docs, name)))
                    for name in ("reburn3-serve.schema.json", "reburn3-json.schema.json"))
    try:
        from referencing import Registry, Resource
        registry = Registry().with_resources(
            [(d["$id"], Resource.from_contents(d)) for d in (serve, flash)])
        return jsonschema.Draft202012Validator(serve, registry=registry)
    except ImportError:
        resolver = jsonschema.RefResolver.from_schema(serve, store={flash["$id"]: flash})
        return jsonschema.Draft202012Validator(serve, resolver=resolver)


class Station:
    """Simulated ORX-716s on pseudo-terminals and `reburn3 serve` over them. With a
    validator, every JSON body it gets is checked against the API's schema."""

    validator = None
    headers = {}  # sent with every call (a token)
    context = None  # the TLS context of an https:// station

    def __init__(self, reburn3, sim, script, devices=2, extra=(), labels=None, sim_extra=None):
        self.tmp = tempfile.mkdtemp(prefix="reburn3-serve-")
        reburn3, sim, script = (os.path.abspath(f) for f in (reburn3, sim, script))
        self.sims = [subprocess.Popen([sim, script, "--stay", "--lifetime", "120"]
                                      + list((sim_extra or {}).get(i, [])),
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                     for i in range(devices)]
        self.ports = [p.stdout.readline().strip() for p in self.sims]
        self.log = os.path.join(self.tmp, "boards.jsonl")
        self.db = os.path.join(self.tmp, "records.sqlite")
        args = [reburn3, "serve", "--listen", "127.0.0.1:0", "--json", "--log", self.log]
        args += list(extra) or ["--db", "sqlite:" + self.db]
        for i, port in enumerate(self.ports):
            args += ["--port", (labels[i] + "=" + port) if labels else port]
        self.out = open(os.path.join(self.tmp, "stdout"), "w+")
        self.err = open(os.path.join(self.tmp, "stderr"), "w+")
        self.proc = subprocess.Popen(args + [script], stdout=self.out, stderr=self.err, cwd=self.tmp)
        atexit.register(self.cleanup)  # a failed check leaves no process behind
        self.base = None
        for _ in range(200):
            self.err.seek(0)
            m = re.search(r"serving on (https?://[^/]+/)", self.err.read())
            if m:
                self.base = m.group(1).rstrip("/")
                break
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        assert self.base, "the service did not start: " + self.stderr()

    def stderr(self):
        self.err.seek(0)
        return self.err.read()

    def results(self):
        """The `--json` results on standard output, in order."""
        self.out.seek(0)
        lines = [json.loads(line) for line in self.out if line.startswith("{")]
        return [o for o in lines if o.get("type") == "result"]

    def call(self, method, path, body=None, headers=None, raw=None):
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={**self.headers, **(headers or {})})
        try:
            with urllib.request.urlopen(request, timeout=10, context=self.context) as reply:
                text = reply.read().decode()
                status = reply.status
        except urllib.error.HTTPError as e:
            text, status = e.read().decode(), e.code
        try:
            body = json.loads(text)
        except ValueError:
            return status, text
        if Station.validator:
            Station.validator.validate(body)
        return status, body

    def wait_for(self, what, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            state = self.call("GET", "/api/state")[1]
            if what(state):
                return state
            time.sleep(0.05)
        raise AssertionError("timed out; last state: %s" % state)

    def cleanup(self):
        for p in [self.proc] + self.sims:
            if p.poll() is None:
                p.kill()
                p.wait()

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        code = self.proc.wait(timeout=30)
        for p in self.sims:
            p.kill()
            p.wait()
        return code

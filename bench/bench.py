#!/usr/bin/env python3
"""Side-by-side benchmark of the daemon against plain libpq C programs.

Started by scripts/bench, which builds the programs and passes their paths.
Each path runs --rounds times; every ratio is printed as min/median/max with
the machine's load average at the time.
"""
import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from daemon_env import fd_count, free_port, status_kb, write_config

CLK = os.sysconf("SC_CLK_TCK")



def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK




def load():
    return os.getloadavg()[0]


class Bench:
    def __init__(self, args):
        self.a = args
        self.dir = tempfile.mkdtemp(prefix="vornpms-bench.")
        self.procs = []
        self.results = {}  # name -> list of (value, load)
        self.db_index = 0

    # ---- processes -------------------------------------------------------
    def spawn(self, argv, out_name, env=None):
        out = open(os.path.join(self.dir, out_name), "w")
        p = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, env=env or os.environ.copy(),
                             start_new_session=True)
        self.procs.append(p)
        return p

    def wait_text(self, out_name, pattern, timeout=30):
        deadline = time.time() + timeout
        path = os.path.join(self.dir, out_name)
        while time.time() < deadline:
            with open(path) as f:
                m = re.search(pattern, f.read())
            if m:
                return m
            time.sleep(0.05)
        raise RuntimeError(f"{out_name}: no '{pattern}' within {timeout} s")

    def stop(self, p):
        if isinstance(p, socket.socket):
            p.close()
            return
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        if p in self.procs:
            self.procs.remove(p)

    def cleanup(self):
        for p in list(self.procs):
            self.stop(p)
        shutil.rmtree(self.dir, ignore_errors=True)

    # ---- database --------------------------------------------------------
    def psql(self, sql, db=None):
        r = subprocess.run(["psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", db or self.db, "-c", sql],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError(f"psql: {r.stderr}")
        return r.stdout.strip()

    def fresh_db(self, asynchronous=False):
        self.db_index += 1
        self.db = f"bench{self.db_index}"
        self.psql(f"CREATE DATABASE {self.db} TEMPLATE vornpms_template", db="postgres")
        if asynchronous:
            self.psql(f"ALTER DATABASE {self.db} SET synchronous_commit = off", db="postgres")
        # Room 101 is occupied, as the room-status path asks about it.
        self.psql("INSERT INTO port_room_status (prs_room_no) VALUES ('101');"
                  "INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_is_stale, pms_psi_no) "
                  "VALUES ('101', '1001', 'Smith', 0, 0)")

    def add_charges(self, n, room="101"):
        self.psql("INSERT INTO session_info (ses_room_no, ses_guest_no, ses_amount, ses_mac, ses_pay_no, "
                  "ses_reg_time_dt, ses_reg_expire_dt, ses_psi_no, ses_posted_flag) "
                  f"SELECT '{room}', '1001', 1.25, '00:11:22:33:44:55', 4, now() - interval '10 minutes' "
                  f"+ g * interval '1 ms', now() + interval '1 hour', 0, 0 FROM generate_series(1, {n}) g")

    def unposted(self):
        return int(self.psql("SELECT count(*) FROM session_info WHERE ses_posted_flag = 0"))

    def env(self):
        e = os.environ.copy()
        e["PGDATABASE"] = self.db
        return e

    # ---- the daemon ------------------------------------------------------
    def silent_pms(self):
        """An Agilysys PMS that takes the link and never sends: the daemon posts
        nothing to it, so nothing else is needed."""
        srv = socket.socket()
        srv.bind(("127.0.0.1", 0))
        srv.listen(4)

        def serve():
            while True:
                try:
                    c, _ = srv.accept()
                except OSError:
                    return
                threading.Thread(target=lambda: [None for _ in iter(lambda: c.recv(4096), b"")], daemon=True).start()

        threading.Thread(target=serve, daemon=True).start()
        return srv

    def start_daemon(self, vendor, extra=""):
        if vendor.startswith("Agilysys"):
            sim = self.silent_pms()
            where = str(sim.getsockname()[1])
        else:
            sim = self.spawn([self.a.pmssim, "--listen", "127.0.0.1:0", "--vendor", vendor,
                              "--hotel", self.a.hotel], "pmssim.out")
            where = self.wait_text("pmssim.out", r"-- listening on 127\.0\.0\.1:(\d+)").group(1)
        self.ctl_port = free_port()
        cfg = write_config(self.dir, self.db, self.ctl_port, vendor,
                           f"PMSCOMMTYPE=TCP\nPMSCOMMOPTS=127.0.0.1|{where}\n",
                           f"PMSCOMMTIMEOUT=5\nPOSTDELAY=3600\nPOST_EXPIRED=1\n{extra}")
        d = self.spawn([self.a.daemon, "-D", "-c", cfg, "-L", os.path.join(self.dir, "vornpms.lock")], "daemon.out")
        deadline = time.time() + 30
        while time.time() < deadline:
            if "link=up" in self.control("90", "") and "server=READY" in self.control("90", ""):
                return d, sim
            time.sleep(0.2)
        raise RuntimeError("daemon did not come up:\n" + open(os.path.join(self.dir, "daemon.out")).read()[-2000:])

    def control(self, subtype, data, timeout=600):
        try:
            with socket.create_connection(("127.0.0.1", self.ctl_port), timeout=timeout) as s:
                s.sendall(b"\x0201" + subtype.encode() + data.encode() + b"\x03")
                out = b""
                while True:
                    b = s.recv(4096)
                    if not b:
                        return out.decode(errors="replace")
                    out += b
        except OSError:
            return ""

    def load_run(self, port, clients, requests, subtype="01", data="101"):
        r = subprocess.run([self.a.ctl_load, str(port), subtype, data, str(clients), str(requests)],
                           capture_output=True, text=True, check=True)
        return {k: float(v) for k, v in re.findall(r"(\w+)=([\d.]+)", r.stdout)}

    def record(self, name, value):
        self.results.setdefault(name, []).append((value, load()))

    # ---- paths -----------------------------------------------------------
    def room_status(self):
        self.fresh_db()
        d, sim = self.start_daemon("Agilysys 2-way")
        ref_port = free_port()
        ref = self.spawn([self.a.ref_room, str(ref_port), "0"], "ref_room.out", env=self.env())
        self.wait_text("ref_room.out", "listening")
        n = self.a.requests
        for clients in (1, 4):
            for _ in range(self.a.rounds):
                c0 = cpu_seconds(d.pid)
                dm = self.load_run(self.ctl_port, clients, n)
                dc = (cpu_seconds(d.pid) - c0) / dm["requests"]
                c0 = cpu_seconds(ref.pid)
                rf = self.load_run(ref_port, clients, n)
                rc = (cpu_seconds(ref.pid) - c0) / rf["requests"]
                self.record(f"room status, {clients} client(s): throughput daemon/C", dm["rps"] / rf["rps"])
                self.record(f"room status, {clients} client(s): p50 daemon/C", dm["p50_us"] / max(rf["p50_us"], 1))
                if rc > 0:
                    self.record(f"room status, {clients} client(s): server CPU per request daemon/C", dc / rc)
                self.record(f"room status, {clients} client(s): daemon req/s", dm["rps"])
                if dm["failed"] or rf["failed"]:
                    raise RuntimeError(f"room status requests failed: daemon {dm['failed']}, C {rf['failed']}")
        self.stop(ref)
        self.stop(d)
        self.stop(sim)

    def traced_calls(self, pid, port, clients, requests):
        """System calls the process makes per room-status request,
        counted by strace attached for one run of requests."""
        out = os.path.join(self.dir, f"strace.{pid}")
        tr = subprocess.Popen(["strace", "-c", "-f", "-q", "-o", out, "-p", str(pid)], stderr=subprocess.DEVNULL)
        time.sleep(0.5)  # strace attaches asynchronously
        self.load_run(port, clients, requests)
        tr.send_signal(signal.SIGINT)
        tr.wait(30)
        with open(out) as f:
            text = f.read()
        # One row per call: "% time, seconds, usecs/call, calls, [errors,] name".
        calls = sum(int(f[3]) for f in (ln.split() for ln in text.splitlines())
                    if len(f) >= 5 and f[-1] != "total" and f[3].isdigit())
        return calls / requests

    def syscalls(self):
        if not shutil.which("strace"):
            raise RuntimeError("the syscalls path needs strace")
        self.fresh_db()
        d, sim = self.start_daemon("Agilysys 2-way")
        ref_port = free_port()
        ref = self.spawn([self.a.ref_room, str(ref_port), "0"], "ref_room.out", env=self.env())
        self.wait_text("ref_room.out", "listening")
        n = min(self.a.requests, 2000)
        for clients in (1, 4):
            for who, pid, port in (("daemon", d.pid, self.ctl_port), ("C", ref.pid, ref_port)):
                self.record(f"room status, {clients} client(s): system calls per request, {who}",
                            self.traced_calls(pid, port, clients, n))
        self.stop(ref)
        self.stop(d)
        self.stop(sim)

    def billing(self):
        for rows in self.a.rows:
            for asynchronous in (False, True):
                kind = "asynchronous" if asynchronous else "durable"
                for _ in range(self.a.rounds):
                    self.fresh_db(asynchronous)
                    d, sim = self.start_daemon("Agilysys 2-way")
                    self.add_charges(rows)
                    c0 = cpu_seconds(d.pid)
                    t0 = time.monotonic()
                    reply = self.control("08", "")
                    secs = time.monotonic() - t0
                    cpu = cpu_seconds(d.pid) - c0
                    hwm = status_kb(d.pid, "VmHWM")
                    left = self.unposted()
                    self.stop(d)
                    self.stop(sim)
                    if left:
                        raise RuntimeError(f"billing: {left} rows left unposted; reply {reply!r}")
                    self.psql("UPDATE session_info SET ses_posted_flag = 0")
                    r = subprocess.run([self.a.ref_billing, "0"], capture_output=True, text=True, check=True,
                                       env=self.env())
                    ref = dict(re.findall(r"(\w+)=([\d.]+)", r.stdout))
                    ref_rate = int(ref["rows"]) / float(ref["seconds"])
                    self.record(f"billing {rows} rows, {kind}: rows/s daemon/C", (rows / secs) / ref_rate)
                    self.record(f"billing {rows} rows, {kind}: daemon CPU us/row", cpu / rows * 1e6)
                    self.record(f"billing {rows} rows, {kind}: daemon peak RSS MB", hwm / 1024)

    def fias(self):
        for flush in self.a.flush:
            for _ in range(self.a.rounds):
                self.fresh_db()
                d, sim = self.start_daemon("Micros-Fidelio 2-way", f"FLUSHTIMEOUT={flush}\n")
                n = self.a.charges
                self.add_charges(n)
                t0 = time.monotonic()
                self.control("08", "")
                per = (time.monotonic() - t0) / n
                left = self.unposted()
                self.stop(d)
                self.stop(sim)
                if left:
                    raise RuntimeError(f"FIAS: {left} charges left unposted")
                self.record(f"FIAS posting, FLUSHTIMEOUT={flush}: seconds per charge", per)
                # The drains wait FLUSHTIMEOUT twice per charge; each record written pauses 0.1 s.
                floor = 2 * float(flush) + 0.1
                self.record(f"FIAS posting, FLUSHTIMEOUT={flush}: per charge / floor", per / floor)

    def backlog(self):
        for _ in range(self.a.rounds):
            self.fresh_db()
            d, sim = self.start_daemon("Micros-Fidelio 2-way", "FLUSHTIMEOUT=0.2\nPOSTDELAY=1\n")
            self.add_charges(self.a.backlog)
            t_end = time.monotonic() + self.a.backlog_seconds
            time.sleep(1.5)  # the scan has started
            lat = []
            while time.monotonic() < t_end and self.unposted() > 0:
                t0 = time.monotonic()
                self.control("90", "")
                lat.append(time.monotonic() - t0)
                time.sleep(0.05)
            self.stop(d)
            self.stop(sim)
            if lat:
                lat.sort()
                self.record("control request during a FIAS backlog: p50 latency s", lat[len(lat) // 2])
                self.record("control request during a FIAS backlog: p99 latency s", lat[min(len(lat) - 1,
                                                                                          int(len(lat) * 0.99))])

    def idle_and_memory(self):
        self.fresh_db()
        d, sim = self.start_daemon("Agilysys 2-way")
        time.sleep(1)
        c0 = cpu_seconds(d.pid)
        time.sleep(self.a.idle_seconds)
        self.record(f"idle CPU % over {self.a.idle_seconds} s", (cpu_seconds(d.pid) - c0) / self.a.idle_seconds * 100)
        self.record("idle RSS MB", status_kb(d.pid, "VmRSS") / 1024)
        rss0, fd0 = status_kb(d.pid, "VmRSS"), fd_count(d.pid)
        self.load_run(self.ctl_port, 1, self.a.leak_requests)
        self.add_charges(self.a.leak_postings)
        self.control("08", "")
        self.record(f"RSS growth MB over {self.a.leak_requests} requests and {self.a.leak_postings} postings",
                    (status_kb(d.pid, "VmRSS") - rss0) / 1024)
        self.record("descriptor growth over the same", fd_count(d.pid) - fd0)
        self.stop(d)
        self.stop(sim)

    def report(self):
        print(f"\nload average at the end: {' '.join(f'{x:.2f}' for x in os.getloadavg())}, "
              f"{os.cpu_count()} CPUs")
        print(f"{'figure':<78} {'min':>9} {'median':>9} {'max':>9}  load")
        for name, vals in self.results.items():
            v = [x for x, _ in vals]
            ld = statistics.median(l for _, l in vals)
            print(f"{name:<78} {min(v):9.3f} {statistics.median(v):9.3f} {max(v):9.3f}  {ld:.1f}")


def main():
    ap = argparse.ArgumentParser()
    for name in ("daemon", "pmssim", "ref-room", "ref-billing", "ctl-load", "hotel"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--requests", type=int, default=20000, help="room-status requests per round")
    ap.add_argument("--rows", default="1000,10000", help="billing cycle sizes")
    ap.add_argument("--charges", type=int, default=10, help="FIAS charges per round")
    ap.add_argument("--flush", default="5,0.2", help="FLUSHTIMEOUT values for the FIAS path")
    ap.add_argument("--backlog", type=int, default=1000, help="FIAS charges in the backlog")
    ap.add_argument("--backlog-seconds", type=float, default=60, help="how long to probe during the backlog")
    ap.add_argument("--idle-seconds", type=float, default=60)
    ap.add_argument("--leak-requests", type=int, default=20000)
    ap.add_argument("--leak-postings", type=int, default=2000)
    ap.add_argument("--only", default="room,billing,fias,backlog,idle",
                    help="paths to run; syscalls (strace counts per room-status request) only when named")
    a = ap.parse_args()
    a.rows = [int(x) for x in a.rows.split(",") if x]
    a.flush = [x for x in a.flush.split(",") if x]
    b = Bench(a)
    try:
        paths = {"room": b.room_status, "syscalls": b.syscalls, "billing": b.billing, "fias": b.fias, "backlog": b.backlog,
                 "idle": b.idle_and_memory}
        for name in a.only.split(","):
            t0 = time.monotonic()
            paths[name]()
            print(f"-- {name} done in {time.monotonic() - t0:.1f} s", flush=True)
        b.report()
    except Exception as e:
        print(f"bench failed: {e}", file=sys.stderr)
        b.report()
        return 1
    finally:
        b.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())

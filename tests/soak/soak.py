#!/usr/bin/env python3
"""Soak run: the daemon against the PMS simulator for a while, under faults.

Started by scripts/soak, which builds the programs and starts PostgreSQL.
Charges are added, guests check in, out and move, control requests come,
the link is cut and PostgreSQL stopped and started again, all at random.
At the end the faults stop, the backlog drains, and the run checks that no
charge was posted twice or lost, that occupancy matches what the PMS sent,
that every control request was answered, that memory and descriptors stayed
flat, and that the daemon ends cleanly with no sanitizer or valgrind report.
It prints "N passed, M failed".
"""
import argparse
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from daemon_env import fd_count, free_port, status_kb, write_config  # noqa: E402

STABLE = ["101", "102", "103", "104"]          # always occupied: the charges go there
CHURN = [str(r) for r in range(105, 121)]     # guests come, go and move
# Cuts that leave the PMS's answer intact. The cut between the PMS taking a
# posting and its answer is left out: nothing on the wire can tell the daemon
# that the PMS took it, so the PMS takes it again by design.
LINK_FAULTS = ["fault cut-after-inquiry", "fault cut-before-posting", "fault cut-after-answer",
               "fault noise", "fault silent 2"]


class Soak:
    def __init__(self, a):
        self.a = a
        self.rng = random.Random(a.seed)
        self.dir = tempfile.mkdtemp(prefix="vornpms-soak.")
        self.db = "soak"
        self.procs = []
        self.seq = 0
        self.charges = {}        # amount text -> room
        self.pending = []        # charges not yet inserted (database away)
        self.guests = {r: None for r in CHURN}   # what the PMS told the daemon
        self.next_guest = 5000
        self.ctl_answered = 0
        self.ctl_unanswered = []
        self.ctl_worst = 0.0
        self.counts = {"charges": 0, "guest events": 0, "control requests": 0, "link faults": 0,
                       "database outages": 0}
        self.samples = []        # (seconds, rss kB, descriptors)
        self.db_down = False

    # ---- processes and database -----------------------------------------
    def psql(self, sql, db=None, check=True):
        r = subprocess.run(["psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", db or self.db, "-c", sql],
                           capture_output=True, text=True)
        if r.returncode != 0:
            if check:
                raise RuntimeError(f"psql: {r.stderr.strip()}")
            return None
        return r.stdout.strip()

    def out(self, name):
        try:
            with open(os.path.join(self.dir, name), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def wait_text(self, name, pattern, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            m = re.search(pattern, self.out(name))
            if m:
                return m
            time.sleep(0.05)
        raise RuntimeError(f"{name}: no '{pattern}' within {timeout} s")

    def pg(self, cmd):
        subprocess.run([self.a.pgtmp, cmd, self.a.pgdir], check=True, capture_output=True)

    def sim_cmd(self, line):
        self.sim.stdin.write(line + "\n")
        self.sim.stdin.flush()

    def start(self):
        self.psql(f"CREATE DATABASE {self.db} TEMPLATE vornpms_template", db="postgres")
        hotel = os.path.join(self.dir, "hotel.txt")
        with open(hotel, "w") as f:
            f.write(f"room {' '.join(STABLE + CHURN)}\n")
            for i, r in enumerate(STABLE):
                f.write(f"guest {r} {1001 + i} Stable{i} Guest nights=30\n")
        for i, r in enumerate(STABLE):
            self.psql("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_is_stale) "
                      f"VALUES ('{r}', '{1001 + i}', 'Stable{i}', 0)")
        sim_argv = [self.a.pmssim, "--hotel", hotel] + (["--serial"] if self.a.serial else ["--listen", "127.0.0.1:0"])
        simout = open(os.path.join(self.dir, "pmssim.out"), "w")
        self.sim = subprocess.Popen(sim_argv, stdin=subprocess.PIPE, stdout=simout, stderr=subprocess.STDOUT,
                                    text=True, start_new_session=True)
        self.procs.append(self.sim)
        if self.a.serial:
            dev = self.wait_text("pmssim.out", r"-- serial device (\S+)").group(1)
            link = f"PMSCOMMTYPE=RS232\nPMSCOMMOPTS={dev}|9600|8|N|1\n"
        else:
            port = self.wait_text("pmssim.out", r"-- listening on 127\.0\.0\.1:(\d+)").group(1)
            link = f"PMSCOMMTYPE=TCP\nPMSCOMMOPTS=127.0.0.1|{port}\n"
        self.ctl_port = free_port()
        cfg = write_config(self.dir, self.db, self.ctl_port, "Micros-Fidelio 2-way", link,
                           "PMSCOMMTIMEOUT=2\nFLUSHTIMEOUT=0.3\nPOSTDELAY=1\nDBINITTIMEOUT=3\nMSG_RETRIES=2\n"
                           f"POSTJOURNAL={self.dir}/post.journal\nEXPIRE_ON_CHECKOUT=1\n")
        argv = [self.a.daemon, "-D", "-c", cfg, "-L", os.path.join(self.dir, "vornpms.lock")]
        if self.a.valgrind:
            argv = ["valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite", "--error-exitcode=99",
                    f"--log-file={self.dir}/valgrind.log"] + argv
        env = os.environ.copy()
        # A small quarantine, so that the resident size reflects the daemon's
        # own memory rather than ASan's store of freed blocks.
        env["ASAN_OPTIONS"] = "detect_leaks=1:abort_on_error=1:quarantine_size_mb=4"
        env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
        daemonout = open(os.path.join(self.dir, "daemon.out"), "w")
        self.daemon = subprocess.Popen(argv, stdout=daemonout, stderr=subprocess.STDOUT, env=env,
                                       start_new_session=True)
        self.procs.append(self.daemon)
        self.wait_text("pmssim.out", "-- link up", 120 if self.a.valgrind else 40)
        self.t0 = time.monotonic()

    def daemon_pid(self):
        # Under valgrind the process is valgrind itself, which is the daemon.
        return self.daemon.pid

    def cleanup(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        if not self.a.keep:
            shutil.rmtree(self.dir, ignore_errors=True)

    # ---- actions ---------------------------------------------------------
    def add_charge(self):
        self.seq += 1
        room = self.rng.choice(STABLE)
        amount = f"{1 + self.seq / 100:.2f}"
        self.charges[amount] = room
        self.pending.append((room, str(1001 + STABLE.index(room)), amount))
        self.counts["charges"] += 1
        self.flush_pending()

    def flush_pending(self):
        while self.pending and not self.db_down:
            room, guest, amount = self.pending[0]
            ok = self.psql("INSERT INTO session_info (ses_room_no, ses_guest_no, ses_amount, ses_mac, ses_pay_no, "
                           "ses_reg_time_dt, ses_reg_expire_dt) VALUES "
                           f"('{room}', '{guest}', {amount}, '00:11:22:33:44:55', 4, now() - interval '10 minutes', "
                           "now() + interval '1 hour')", check=False)
            if ok is None:
                return
            self.pending.pop(0)

    def guest_event(self):
        occupied = [r for r in CHURN if self.guests[r]]
        vacant = [r for r in CHURN if not self.guests[r]]
        kind = self.rng.choice(["checkin", "checkin", "checkout", "move"])
        # The PMS sends a guest record only while the link is up.
        if kind == "checkin" and vacant:
            room = self.rng.choice(vacant)
            self.next_guest += 1
            self.guests[room] = str(self.next_guest)
            self.sim_cmd(f"wait link 60\ncheckin {room} {self.next_guest} Soak{self.next_guest} Guest")
        elif kind == "checkout" and occupied:
            room = self.rng.choice(occupied)
            self.guests[room] = None
            self.sim_cmd(f"wait link 60\ncheckout {room}")
        elif kind == "move" and occupied and vacant:
            a, b = self.rng.choice(occupied), self.rng.choice(vacant)
            self.guests[b], self.guests[a] = self.guests[a], None
            self.sim_cmd(f"wait link 60\nmove {a} {b}")
        else:
            return
        self.counts["guest events"] += 1

    def control(self, subtype="01", data=None, timeout=None):
        data = data if data is not None else self.rng.choice(STABLE + CHURN)
        timeout = timeout or self.a.request_deadline
        t0 = time.monotonic()
        got = b""
        try:
            with socket.create_connection(("127.0.0.1", self.ctl_port), timeout=timeout) as s:
                s.sendall(b"\x0201" + subtype.encode() + data.encode() + b"\x03")
                while time.monotonic() - t0 < timeout:
                    b = s.recv(65536)
                    if not b:
                        break
                    got += b
        except OSError:
            pass
        took = time.monotonic() - t0
        self.counts["control requests"] += 1
        if got.startswith(b"\x02"):
            self.ctl_answered += 1
            self.ctl_worst = max(self.ctl_worst, took)
        else:
            self.ctl_unanswered.append((round(time.monotonic() - self.t0, 1), subtype, data, round(took, 2)))
        return got

    def link_fault(self):
        self.sim_cmd(self.rng.choice(LINK_FAULTS))
        self.counts["link faults"] += 1

    def db_outage(self):
        self.pg("stop")
        self.db_down = True
        self.counts["database outages"] += 1
        end = time.monotonic() + self.rng.uniform(2, 6)
        # Guests keep coming while the database is away.
        while time.monotonic() < end:
            if self.rng.random() < 0.5:
                self.guest_event()
            time.sleep(0.5)
        self.pg("resume")
        self.db_down = False
        self.last_outage = time.monotonic()

    def sample(self):
        pid = self.daemon_pid()
        self.samples.append((time.monotonic() - self.t0, status_kb(pid, "VmRSS"), fd_count(pid)))

    # ---- the run ---------------------------------------------------------
    def run(self):
        self.start()
        end = self.t0 + self.a.minutes * 60
        self.last_outage = self.t0
        next_sample = self.t0
        actions = [(self.add_charge, 4), (self.guest_event, 3), (self.control, 3), (self.link_fault, 1)]
        funcs, weights = zip(*actions)
        while time.monotonic() < end and self.daemon.poll() is None:
            if time.monotonic() >= next_sample:
                self.sample()
                next_sample += 5
            if time.monotonic() - self.last_outage > self.a.outage_every and self.rng.random() < 0.05:
                self.db_outage()
            else:
                self.rng.choices(funcs, weights)[0]()
            self.flush_pending()
            time.sleep(self.rng.uniform(0.1, 1.0))
        return self.settle()

    def settle(self):
        """Faults off, the backlog drained, then the checks."""
        self.sim_cmd("fault off")
        if self.db_down:
            self.pg("resume")
            self.db_down = False
        deadline = time.monotonic() + self.a.settle
        while time.monotonic() < deadline and self.daemon.poll() is None:
            self.flush_pending()
            left = self.psql("SELECT count(*) FROM session_info WHERE ses_posted_flag = 0", check=False)
            if not self.pending and left == "0":
                break
            time.sleep(1)
        time.sleep(3)  # the last guest records
        self.sample()
        return self.checks()

    def checks(self):
        results = []

        def check(name, ok, detail=""):
            results.append((name, ok, detail))

        alive = self.daemon.poll() is None
        check("daemon ran throughout", alive, "" if alive else f"ended with {self.daemon.returncode}")
        sim = self.out("pmssim.out")
        taken = {}
        for m in re.finditer(r"-- charge taken: room (\S+) amount (\S+)", sim):
            taken[m.group(2)] = taken.get(m.group(2), 0) + 1
        rows = self.psql("SELECT ses_amount, ses_posted_flag FROM session_info", check=False) or ""
        marked = {}
        for line in rows.splitlines():
            amount, flag = line.split("|")
            marked[f"{float(amount):.2f}"] = flag
        doubles = sorted(a for a, n in taken.items() if n > 1)
        check("no charge posted twice", not doubles, ", ".join(doubles[:10]))
        unfounded = sorted(a for a, f in marked.items() if f == "1" and a not in taken)
        check("no charge marked without the PMS's OK", not unfounded, ", ".join(unfounded[:10]))
        lost = sorted(a for a in self.charges if marked.get(a) != "1")
        check("every charge posted and marked", not lost, lost and f"{len(lost)} left: {', '.join(lost[:10])}")
        want = {r: g for r, g in self.guests.items() if g}
        have = {}
        grows = self.psql("SELECT pms_room, pms_guest_no FROM pms_guests WHERE pms_is_stale = 0", check=False) or ""
        for line in grows.splitlines():
            room, guest = line.split("|")
            if room in self.guests:
                have.setdefault(room, []).append(guest)
        wrong = [f"{r}: want {want.get(r)}, have {have.get(r)}" for r in CHURN
                 if ([want[r]] if r in want else []) != sorted(have.get(r, []))]
        check("occupancy matches the PMS", not wrong, "; ".join(wrong[:6]))
        stable_ok = self.psql("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0 AND pms_room IN "
                              f"({', '.join(repr(r) for r in STABLE)})", check=False) == str(len(STABLE))
        check("no guest lost", stable_ok)
        check(f"every control request answered within {self.a.request_deadline} s", not self.ctl_unanswered,
              self.ctl_unanswered and f"{len(self.ctl_unanswered)} not: {self.ctl_unanswered[:5]}")
        # Memory and descriptors: from the first quarter of the run (when the
        # allocator and caches have settled) to the end.
        settled = [s for s in self.samples if s[0] >= self.samples[-1][0] / 4] or self.samples
        rss0, rss1 = settled[0][1], self.samples[-1][1]
        # A sample may fall in a link cut or a database outage, with a socket
        # fewer: the most seen in the first half of that span is the base.
        first_half = [x for x in settled if x[0] <= (settled[0][0] + self.samples[-1][0]) / 2] or settled
        fd0, fd1 = max(x[2] for x in first_half), self.samples[-1][2]
        check(f"resident size flat (growth under {self.a.rss_slack_mb} MB)",
              rss1 - rss0 < self.a.rss_slack_mb * 1024, f"{rss0 / 1024:.1f} -> {rss1 / 1024:.1f} MB")
        check("descriptors flat", fd1 <= fd0 + 1, f"{fd0} -> {fd1}")
        code = self.stop_daemon() if alive else self.daemon.returncode
        report = self.sanitizer_report()
        check("clean end on SIGTERM, no sanitizer or valgrind report", code == 0 and not report,
              f"exit {code}" + (f"; {report}" if report else ""))

        took = sum(taken.values())
        print(f"soak: {self.a.minutes} min, seed {self.a.seed}, {'valgrind, ' if self.a.valgrind else ''}{self.a.daemon}, "
              f"{'serial line' if self.a.serial else 'TCP'}")
        print("  " + ", ".join(f"{v} {k}" for k, v in self.counts.items()))
        print(f"  postings taken by the PMS: {took} of {len(self.charges)} charges; "
              f"control requests answered: {self.ctl_answered}, slowest {self.ctl_worst:.2f} s")
        rss = [s[1] for s in self.samples]
        fds = [s[2] for s in self.samples]
        print(f"  RSS: start {rss[0] / 1024:.1f} MB, max {max(rss) / 1024:.1f} MB, end {rss[-1] / 1024:.1f} MB; "
              f"descriptors: start {fds[0]}, max {max(fds)}, end {fds[-1]}")
        passed = sum(1 for _, ok, _ in results if ok)
        for name, ok, detail in results:
            print(f"  {'ok    ' if ok else 'FAILED'} {name}" + (f" ({detail})" if detail else ""))
        if passed != len(results):
            print(f"  work directory kept: {self.dir}")
            self.a.keep = True
        print(f"{passed} passed, {len(results) - passed} failed")
        return 0 if passed == len(results) else 1

    def stop_daemon(self):
        self.daemon.send_signal(signal.SIGTERM)
        try:
            return self.daemon.wait(120 if self.a.valgrind else 30)
        except subprocess.TimeoutExpired:
            self.daemon.kill()
            return self.daemon.wait()

    def sanitizer_report(self):
        text = self.out("daemon.out") + self.out("valgrind.log")
        for pat in (r"ERROR: AddressSanitizer[^\n]*", r"ERROR: LeakSanitizer[^\n]*", r"runtime error:[^\n]*",
                    r"ERROR SUMMARY: [1-9]\d* errors[^\n]*", r"definitely lost: [1-9][\d,]* bytes[^\n]*"):
            m = re.search(pat, text)
            if m:
                return m.group(0)
        return ""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in ("daemon", "pmssim", "pgtmp", "pgdir"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--serial", action="store_true", help="the simulator on a pseudo-terminal")
    ap.add_argument("--valgrind", action="store_true", help="the daemon under valgrind (release build)")
    ap.add_argument("--outage-every", type=float, default=60, help="at least this many seconds between outages")
    ap.add_argument("--request-deadline", type=float, default=15, help="seconds a control request may take")
    ap.add_argument("--settle", type=float, default=180, help="seconds for the backlog to drain at the end")
    ap.add_argument("--rss-slack-mb", type=float, default=4)
    ap.add_argument("--keep", action="store_true", help="keep the work directory")
    a = ap.parse_args()
    s = Soak(a)
    try:
        return s.run()
    except Exception as e:  # noqa: BLE001 - any failure of the run itself is reported as one
        print(f"soak failed: {e}\n--- daemon:\n{s.out('daemon.out')[-3000:]}\n--- simulator:\n"
              f"{s.out('pmssim.out')[-3000:]}", file=sys.stderr)
        print("0 passed, 1 failed")
        return 1
    finally:
        s.cleanup()


if __name__ == "__main__":
    sys.exit(main())

"""A Slurm cluster of one node on 127.0.0.1, for tests that submit jobs.

    with OneNodeSlurm(cpus=2, deadline=monotonic() + 90) as cluster:
        job = cluster.run(["sbatch", "--parsable", ...], timeout=30, ...).stdout
        states = cluster.wait([job])

munged, slurmctld and slurmd (Debian's munge and slurm-wlm) run in the
foreground as children of this process, all their files in one scratch
folder, their ports picked free on loopback and bound to loopback only.
Every way out of the block (an assertion, an exception, a timeout) cancels
the jobs and stops the daemons; a test process killed outright takes the
daemons with it (each is told so by the kernel at its start).

ClusterUnavailable is raised, with the reason, where a cluster cannot be
had here at all: not root (slurmd runs jobs as their owner), the programs
missing, or a daemon that exits or is not ready by the deadline.
"""
import ctypes
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

PROGRAMS = ("munged", "munge", "slurmctld", "slurmd", "sbatch", "scontrol", "sinfo", "squeue", "scancel")
SEARCH_PATH = "/usr/sbin:/usr/bin:/sbin:/bin"
PR_SET_PDEATHSIG = 1


class ClusterUnavailable(Exception):
    """Slurm cannot start on this machine; the message says why."""


def _die_with_parent():
    # Runs in the child between fork and exec: the kernel sends SIGTERM when
    # the test process ends, however it ends.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def _free_loopback_ports(count):
    sockets = []
    try:
        for _ in range(count):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            sockets.append(s)
        return [s.getsockname()[1] for s in sockets]
    finally:
        for s in sockets:
            s.close()


class OneNodeSlurm:
    def __init__(self, cpus, deadline, memory_mb=2000):
        self.cpus = cpus
        self.memory_mb = memory_mb
        self.deadline = deadline
        self.daemons = []  # (name, Popen, log path)
        self.environment = None  # the clients', once the configuration is written

    # --- starting

    def __enter__(self):
        if os.geteuid() != 0:
            raise ClusterUnavailable("not root: slurmd must run as root to start jobs")
        missing = [p for p in PROGRAMS if not shutil.which(p, path=SEARCH_PATH)]
        if missing:
            raise ClusterUnavailable("missing " + ", ".join(missing) + " (Debian packages slurm-wlm, munge)")
        self.folder = tempfile.mkdtemp(prefix="zarvo-slurm-")
        # munged's clients must reach its socket here; its key lies one
        # folder down, which only root may enter.
        os.chmod(self.folder, 0o711)
        try:
            self._start()
        except BaseException:
            self._stop()
            raise
        return self

    def __exit__(self, *exc):
        self._stop()

    def _path(self, name):
        return os.path.join(self.folder, name)

    def _start(self):
        os.mkdir(self._path("secret"), 0o700)
        munge_key = self._path("secret/munge.key")
        with open(os.open(munge_key, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as f:
            f.write(os.urandom(1024))
        self.munge_socket = self._path("munge.socket")
        self._spawn("munged", ["munged", "--foreground", "--key-file=" + munge_key, "--socket=" + self.munge_socket,
                               "--pid-file=" + self._path("munged.pid"), "--log-file=" + self._path("munged.log"),
                               "--seed-file=" + self._path("munged.seed")])
        self._wait_for("munged", lambda: self._quiet(["munge", "-n", "-S", self.munge_socket]))

        self.conf = self._path("slurm.conf")
        with open(self.conf, "w") as f:
            f.write(self._configuration())
        self.environment = dict(os.environ, SLURM_CONF=self.conf)
        for name in ("slurmctld", "slurmd"):
            os.makedirs(self._path(name), mode=0o700)
        self._spawn("slurmctld", ["slurmctld", "-D", "-c", "-f", self.conf])
        self._wait_for("slurmctld", lambda: "is UP" in self._client(["scontrol", "ping"]))
        self._spawn("slurmd", ["slurmd", "-D", "-N", "localhost", "-f", self.conf])
        self._wait_for("slurmd", lambda: self._client(["sinfo", "-h", "-N", "-o", "%T"]).strip() == "idle")

    def _configuration(self):
        controller_port, node_port = _free_loopback_ports(2)
        return "\n".join([
            "ClusterName=zarvo-test",
            "SlurmctldHost=localhost",
            f"SlurmctldPort={controller_port}",
            f"SlurmdPort={node_port}",
            # Bind to what localhost resolves to, never to every address.
            "CommunicationParameters=NoCtldInAddrAny,NoInAddrAny",
            "AuthType=auth/munge",
            f"AuthInfo=socket={self.munge_socket}",
            "CredType=cred/munge",
            "SlurmUser=root",
            "SlurmdUser=root",
            f"StateSaveLocation={self._path('slurmctld')}",
            f"SlurmdSpoolDir={self._path('slurmd')}",
            f"SlurmctldPidFile={self._path('slurmctld.pid')}",
            f"SlurmdPidFile={self._path('slurmd.pid')}",
            f"SlurmctldLogFile={self._path('slurmctld.log')}",
            f"SlurmdLogFile={self._path('slurmd.log')}",
            # No cgroups: containers and CI machines seldom delegate them.
            "ProctrackType=proctrack/linuxproc",
            "TaskPlugin=task/none",
            "SchedulerType=sched/backfill",
            "SelectType=select/cons_tres",
            "SelectTypeParameters=CR_Core",
            "ReturnToService=2",
            "MpiDefault=none",
            "JobAcctGatherType=jobacct_gather/none",
            "AccountingStorageType=accounting_storage/none",
            f"NodeName=localhost NodeAddr=127.0.0.1 CPUs={self.cpus} RealMemory={self.memory_mb} State=UNKNOWN",
            "PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP",
            "",
        ])

    def _spawn(self, name, command):
        log = self._path(name + ".out")
        with open(log, "wb") as out:
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                       env=dict(os.environ, PATH=SEARCH_PATH), preexec_fn=_die_with_parent)
        self.daemons.append((name, process, log))

    def _wait_for(self, name, ready):
        process, log = next((p, log) for n, p, log in self.daemons if n == name)
        while not ready():
            if process.poll() is not None:
                raise ClusterUnavailable(f"{name} exited with status {process.returncode}: {self._tail(name, log)}")
            if time.monotonic() > self.deadline:
                raise ClusterUnavailable(f"{name} was not ready in time: {self._tail(name, log)}")
            time.sleep(0.2)

    def _tail(self, name, log):
        text = ""
        for path in (log, self._path(name + ".log")):
            try:
                with open(path, errors="replace") as f:
                    text += f.read()
            except OSError:
                pass
        return " | ".join(text.strip().splitlines()[-4:]) or "(no output)"

    def _client(self, command):
        """What a client command prints, or nothing if it hangs."""
        try:
            return subprocess.run(command, env=self.environment, capture_output=True, text=True,
                                  timeout=10).stdout
        except subprocess.TimeoutExpired:
            return ""

    def _quiet(self, command):
        try:
            return subprocess.run(command, capture_output=True, timeout=10).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    # --- using

    def run(self, command, timeout, **options):
        """A client command against this cluster (sbatch, squeue, ...),
        ended when timeout seconds or the cluster's deadline pass first."""
        left = min(timeout, self.deadline - time.monotonic())
        return subprocess.run(command, env=self.environment, timeout=max(left, 1), **options)

    def wait(self, jobs):
        """Waits for the jobs to end, at most until the deadline; each job's
        tasks' states and exit codes, e.g. {"1": ["COMPLETED 0:0", ...]}."""
        while True:
            states = {job: self._job_states(job) for job in jobs}
            # A job not shown (a client that timed out) counts as not ended.
            if time.monotonic() > self.deadline or all(states.values()) and not any(
                    state.split()[0] in ("PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED")
                    for tasks in states.values() for state in tasks):
                return states
            time.sleep(0.5)

    def _job_states(self, job):
        lines = self._client(["scontrol", "--oneliner", "show", "job", str(job)]).splitlines()
        return [re.search(r"JobState=(\S+)", line)[1] + " " + re.search(r"ExitCode=(\S+)", line)[1]
                for line in lines if "JobState=" in line]

    # --- stopping

    def _stop(self):
        if self.environment and any(n == "slurmctld" and p.poll() is None for n, p, _ in self.daemons):
            # Jobs outlive their slurmd by design: end them while it runs.
            self._client(["scancel", "--full", "--quiet", "--user=root"])
            give_up = time.monotonic() + 20
            while self._client(["squeue", "-h", "-o", "%i"]).strip() and time.monotonic() < give_up:
                time.sleep(0.2)
        for _, process, _ in reversed(self.daemons):
            if process.poll() is None:
                process.terminate()
        for _, process, _ in reversed(self.daemons):
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.daemons = []
        shutil.rmtree(self.folder, ignore_errors=True)

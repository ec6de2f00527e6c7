"""What the benchmark and the soak run share: free ports, /proc readings and
the daemon's configuration file for a throwaway PostgreSQL (PG* environment)."""
import os
import socket


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def status_kb(pid, key):
    """A kB figure of /proc/PID/status (VmRSS, VmHWM); 0 once the process has gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def fd_count(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return -1


def write_config(directory, db, ctl_port, vendor, link, extra=""):
    """vornpms.cfg (and a VIP file of 100 % for every code) in `directory`;
    `link` holds the PMSCOMMTYPE and PMSCOMMOPTS lines. Returns its path."""
    vip = os.path.join(directory, "vip.cfg")
    with open(vip, "w") as f:
        f.write("".join(f"{i} 100\n" for i in range(1, 11)))
    cfg = os.path.join(directory, "vornpms.cfg")
    with open(cfg, "w") as f:
        f.write(f"DBNAME={db}\nDBUSER={os.environ.get('PGUSER', 'postgres')}\nDBPASS=x\n"
                f"DBHOST={os.environ['PGHOST']}\nDBPORT={os.environ['PGPORT']}\nPSI_NO=0\n"
                f"CONTROLPORT={ctl_port}\nCONTROLADDR=127.0.0.1\nVENDOR={vendor}\n{link}"
                f"LINKLOGFILE={directory}/link.log\nVIPFILE={vip}\n{extra}")
    return cfg

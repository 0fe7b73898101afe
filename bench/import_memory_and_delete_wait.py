#!/usr/bin/env python3
"""Figures that need whole processes: peak memory of tovik-reg import on 20 MB and 80 MB backup
files, peak memory of reading Wine prefixes dense in keys or holding one large value, and, during
a delete-key of a large subtree, the longest time another writer's set takes.

    bench/import_memory_and_delete_wait.py build/cli/tovik-reg [KEYS VALUES_PER_KEY]
"""
import os
import subprocess
import sys
import tempfile
import threading
import time

HEADER = "Tovik レジストリ退避ファイル Ver1.0"


def write_backup(path, target_bytes):
    """Keys of 100 string values each until the file holds about target_bytes."""
    with open(path, "wb") as f:
        f.write(b"\xff\xfe")
        size, key = 2, 0
        lines = [HEADER, "\\\\HKEY_LOCAL_MACHINE"]
        while size < target_bytes:
            lines.append(f"[Big\\K{key}]")
            lines.extend(f'"v{i}"=SZ:value {key} {i} ' + "x" * 40 for i in range(100))
            chunk = "".join(line + "\r\n" for line in lines).encode("utf-16-le")
            f.write(chunk)
            size += len(chunk)
            lines, key = [], key + 1
    return os.path.getsize(path)


def run_measured(argv):
    """Exit status, seconds and peak resident memory (KiB) of one child."""
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.execv(argv[0], argv)
    _, status, usage = os.wait4(pid, 0)
    return os.waitstatus_to_exitcode(status), time.monotonic() - start, usage.ru_maxrss


def import_memory(tovik_reg, folder):
    for megabytes in (20, 80):
        backup = os.path.join(folder, f"backup{megabytes}.txt")
        store = os.path.join(folder, f"import{megabytes}.db")
        size = write_backup(backup, megabytes * 1000 * 1000)
        code, seconds, peak = run_measured([tovik_reg, "--registry", store, "import", backup])
        print(f"import of {size / 1e6:.1f} MB: exit {code}, {seconds:.1f} s, peak {peak / 1024:.0f} MiB "
              f"({peak * 1024 / size:.2f} times the file)")
        os.remove(store)


def write_prefix(folder, user_body):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "system.reg"), "w") as f:
        f.write("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n")
    with open(os.path.join(folder, "user.reg"), "wb") as f:
        f.write(b"WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
                b"#arch=win64\n")
        for chunk in user_body:
            f.write(chunk)
    return os.path.getsize(os.path.join(folder, "user.reg"))


def wine_memory(tovik_reg, folder):
    """Peak memory of a query on a prefix of 1,000,000 one-line keys, and of one 100 MB value."""
    dense = os.path.join(folder, "dense")
    size = write_prefix(dense, (b"".join(b"\n[K%07d] 1\n" % (k + n) for n in range(10000))
                                for k in range(0, 1000000, 10000)))
    code, seconds, peak = run_measured([tovik_reg, "--wine-prefix", dense, "query", "HKCU\\K0000000"])
    print(f"query on a prefix of 1,000,000 one-line keys ({size / 1e6:.1f} MB): exit {code}, {seconds:.1f} s, "
          f"peak {peak / 1024:.0f} MiB ({peak * 1024 / size:.1f} times the file)")
    large = os.path.join(folder, "large")
    line = b"00," * (100 * 1000 * 1000 // 3)
    size = write_prefix(large, [b"\n[Big] 1\n\"v\"=hex:", line, b"00\n"])
    code, seconds, peak = run_measured([tovik_reg, "--wine-prefix", large, "query", "HKCU\\Big"])
    print(f"query of one value of a {size / 1e6:.0f} MB line: exit {code}, {seconds:.1f} s, "
          f"peak {peak / 1024:.0f} MiB ({peak * 1024 / size:.1f} times the file)")


def delete_wait(tovik_reg, folder, keys, values):
    store = os.path.join(folder, "delete.db")
    backup = os.path.join(folder, "subtree.txt")
    with open(backup, "wb") as f:
        lines = [HEADER, "\\\\HKEY_LOCAL_MACHINE"]
        for key in range(keys):
            lines.append(f"[Big\\K{key}]")
            lines.extend(f'"v{i}"=DW:{i}' for i in range(values))
        f.write(b"\xff\xfe" + "".join(line + "\r\n" for line in lines).encode("utf-16-le"))
    subprocess.run([tovik_reg, "--registry", store, "import", backup], check=True)
    waits, failures, done = [], [0], threading.Event()

    def writer():
        n = 0
        while not done.is_set():
            start = time.monotonic()
            rc = subprocess.run([tovik_reg, "--registry", store, "set", "HKCU\\W", f"v{n}", "DW", str(n)],
                                stderr=subprocess.DEVNULL).returncode
            waits.append(time.monotonic() - start)
            failures[0] += rc != 0
            n += 1

    thread = threading.Thread(target=writer)
    thread.start()
    time.sleep(0.3)
    start = time.monotonic()
    code = subprocess.run([tovik_reg, "--registry", store, "delete-key", "HKLM\\Big"]).returncode
    total = time.monotonic() - start
    done.set()
    thread.join()
    print(f"delete-key of {keys} keys with {values} values each: exit {code}, {total:.2f} s; "
          f"concurrent set: {len(waits)} runs, longest {max(waits):.3f} s, {failures[0]} failed")


def main():
    tovik_reg = os.path.abspath(sys.argv[1])
    keys = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    values = int(sys.argv[3]) if len(sys.argv) > 3 else 30
    with tempfile.TemporaryDirectory() as folder:
        import_memory(tovik_reg, folder)
        wine_memory(tovik_reg, folder)
        delete_wait(tovik_reg, folder, keys, values)


if __name__ == "__main__":
    main()

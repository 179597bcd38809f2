"""What the product checks share: one "ok   ..." or "FAIL ..." line per
check, a count of the failures for the exit status, and the LLVM tools'
output."""
import subprocess

failures = 0


def report(name, good, detail=""):
    global failures
    print(("ok   " if good else "FAIL ") + name)
    if not good:
        failures += 1
        if detail:
            print("     " + detail)


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout

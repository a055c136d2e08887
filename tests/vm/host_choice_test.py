#!/usr/bin/env python3
"""What install-deps, wine-host and in-vm choose on an imperfect host, and
what they tell the user: a mirror caught mid-sync, a Wine that cannot be
installed, a KVM that opens but cannot start a guest, a guest that never
shows life. The scripts run as they are, from a copy of the tree, with
stand-ins for apt, dpkg, the 32-bit probe and qemu (tests/vm/stand-ins);
nothing is installed and no guest is booted. Usage: host_choice_test.py"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
STAND_INS = os.path.join(SOURCE, "tests", "vm", "stand-ins")
WINE_LINE = ("install-deps: Wine could not be installed here (apt: Unable to correct problems, "
             "you have held broken packages.); Wine will run in the emulated PC instead")


class Host:
    """A copy of the scripts on a host made of stand-ins."""

    def __init__(self, top):
        self.top = top
        scripts = os.path.join(top, "scripts")
        os.makedirs(os.path.join(scripts, "vm"))
        for name in ("install-deps", "wine-host", "in-vm"):
            shutil.copy(os.path.join(SOURCE, "scripts", name), scripts)
        shutil.copy(os.path.join(STAND_INS, "can-run-32bit"), scripts)
        os.makedirs(os.path.join(top, "tests", "web"))
        for name in ("package.json", "package-lock.json"):
            shutil.copy(os.path.join(SOURCE, "tests", "web", name), os.path.join(top, "tests", "web"))
        self.bin = os.path.join(top, "bin")
        os.makedirs(self.bin)
        for name in ("apt-get", "dpkg", "dpkg-query", "qemu-system-x86_64", "npm"):
            os.symlink(os.path.join(STAND_INS, name), os.path.join(self.bin, name))
        self.build = os.path.join(top, "build")
        self.image = os.path.join(top, "image")
        os.makedirs(self.image)
        for name in ("root.img", "vmlinuz", "initrd.img"):
            open(os.path.join(self.image, name), "w").close()
        self.kvm = os.path.join(top, "kvm")
        self.log = os.path.join(top, "calls.log")
        self.marker = os.path.join(self.build, "wine-not-installable")
        self.env = {
            "PATH": self.bin + ":" + os.environ["PATH"],
            "HOME": top,
            "TMPDIR": top,
            "BUILD": self.build,
            "FAKE_LOG": self.log,
            "FAKE_INSTALLED": os.path.join(top, "installed"),
            "APT_RETRY_PAUSE": "0",
            "VM_KVM_DEVICE": self.kvm,
            "VM_PROBE_SECONDS": "2",
            "VM_LIFE_SECONDS": "2",
        }

    def run(self, script, *args, **env):
        started = time.monotonic()
        done = subprocess.run([os.path.join(self.top, "scripts", script), *args], cwd=self.top,
                              env={**self.env, **env}, capture_output=True, text=True,
                              timeout=60)
        done.seconds = time.monotonic() - started
        return done

    def calls(self, prefix):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [line.strip() for line in f if line.startswith(prefix)]

    def verdict(self):
        """The accelerator in-vm's probe chose and kept beside the image."""
        path = os.path.join(self.image, "accel")
        if not os.path.exists(path):
            return None
        with open(path) as f:
            return f.read().split()[0]

    def in_vm(self, **env):
        return self.run("in-vm", "--image", os.path.join(self.image, "root.img"), "--",
                        "sh", "-c", 'echo "accel $VM_ACCEL"; exit 7', **env)


@unittest.skipIf(os.geteuid() != 0, "install-deps installs only as root")
class HostChoiceTest(unittest.TestCase):
    def setUp(self):
        self.fresh()

    def fresh(self):
        """A new host, for each case of a table."""
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.host = Host(tmp.name)

    def test_install_deps_and_wine_host(self):
        # name, environment, marker before, install-deps' status, its one line
        # (or none), what wine-host says after, the installs it tried.
        wine = "wine wine32:i386 wine64"
        vm = "qemu-system-x86 debootstrap e2fsprogs"
        cases = [
            ("healthy mirror", {}, False, 0, None, "native", [wine]),
            ("mirror mid-sync, then whole", {"FAKE_APT_UPDATE_FAILS": "2"}, False, 0, None,
             "native", [wine]),
            ("Wine uninstallable", {"FAKE_APT_FAILS": "wine32:i386"}, False, 0, WINE_LINE,
             "vm: Wine could not be installed here (apt: Unable to correct problems, you have "
             "held broken packages.)", [wine, vm]),
            ("stale index and Wine uninstallable",
             {"FAKE_APT_UPDATE_FAILS": "always", "FAKE_APT_FAILS": "wine32:i386"}, False, 0,
             WINE_LINE, "vm: Wine could not be installed here", [wine, vm]),
            ("the marker lasts", {}, True, 0, None, "vm: Wine could not be installed here", [vm]),
            ("WINE_HOST=native clears it", {"WINE_HOST": "native"}, True, 0, None, "native",
             [wine]),
            ("WINE_HOST=native insists", {"WINE_HOST": "native", "FAKE_APT_FAILS": "wine64"},
             False, 1, "install-deps: Wine cannot be installed here (apt: Unable to correct "
             "problems, you have held broken packages.), and WINE_HOST=native", "native", [wine]),
            ("no 32-bit programs", {"FAKE_NO_32BIT": "this kernel runs no 32-bit x86 programs"},
             False, 0, None, "vm: this kernel runs no 32-bit x86 programs", [vm]),
        ]
        for name, env, marked, status, line, where, installed in cases:
            with self.subTest(name):
                self.fresh()
                env = {"FAKE_MISSING": wine + " " + vm, **env}
                if marked:
                    os.makedirs(self.host.build)
                    with open(self.host.marker, "w") as f:
                        f.write("Wine could not be installed here (apt: earlier)\n")
                deps = self.host.run("install-deps", **env)
                self.assertEqual(deps.returncode, status, deps.stderr)
                told = [l for l in deps.stderr.splitlines() if "Wine" in l]
                self.assertEqual(told, [line] if line else [])
                self.assertEqual(self.host.calls("apt-get install"),
                                 ["apt-get install -y -qq --no-install-recommends " + p
                                  for p in installed])
                self.assertTrue(self.host.run("wine-host", **env).stdout.startswith(where))
                self.assertEqual(os.path.exists(self.host.marker), where.startswith("vm: Wine"))

    def test_apt_update_is_tried_three_times_then_said(self):
        deps = self.host.run("install-deps", FAKE_MISSING="jq", FAKE_APT_UPDATE_FAILS="always")
        self.assertEqual(deps.returncode, 0, deps.stderr)
        self.assertEqual(len(self.host.calls("apt-get update")), 3)
        self.assertIn("install-deps: apt-get update failed 3 times (Failed to fetch", deps.stderr)
        self.assertIn("going on with the indexes it has", deps.stderr)
        self.assertEqual(self.host.calls("apt-get install"),
                         ["apt-get install -y -qq --no-install-recommends jq"])

    def test_in_vm_accelerator(self):
        # name, /dev/kvm opens, environment, in-vm's status, the accelerator
        # the command saw, qemu's starts, the line said, the verdict kept.
        probe_failed = ("in-vm: KVM is present but could not start a guest (no sign of its "
                        "kernel in 2 s); using emulation")
        cases = [
            ("no KVM", False, {}, 7, "tcg", ["qemu tcg boot"], None, None),
            ("KVM that works", True, {}, 7, "kvm", ["qemu kvm probe", "qemu kvm boot"], None,
             "kvm"),
            ("KVM that spins", True, {"FAKE_KVM": "silent"}, 7, "tcg",
             ["qemu kvm probe", "qemu tcg boot"], probe_failed, "tcg"),
            ("VM_ACCEL=tcg", True, {"VM_ACCEL": "tcg"}, 7, "tcg", ["qemu tcg boot"], None, None),
            ("VM_ACCEL=kvm", True, {"VM_ACCEL": "kvm", "FAKE_KVM": "silent"}, 125, None,
             ["qemu kvm boot"], "in-vm: the emulated PC (kvm) showed no sign of life within 2 s",
             None),
            ("KVM boot shows no life", True, {"FAKE_KVM": "probe-only"}, 7, "tcg",
             ["qemu kvm probe", "qemu kvm boot", "qemu tcg boot"],
             "in-vm: KVM could not start the guest; using emulation", "tcg"),
            ("TCG guest shows no life", False, {"FAKE_TCG": "silent"}, 125, None,
             ["qemu tcg boot"], "in-vm: the emulated PC (tcg) showed no sign of life within 2 s",
             None),
        ]
        for name, kvm, env, status, accel, starts, line, kept in cases:
            with self.subTest(name):
                self.fresh()
                if kvm:
                    open(self.host.kvm, "w").close()
                run = self.host.in_vm(**env)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertEqual(run.stdout, f"accel {accel}\n" if accel else "")
                self.assertEqual(self.host.calls("qemu"), starts)
                if line:
                    self.assertIn(line, run.stderr)
                else:
                    self.assertEqual(run.stderr, "")
                self.assertEqual(self.host.verdict(), kept)
                self.assertLess(run.seconds, 30)

    def test_verdict_is_kept(self):
        open(self.host.kvm, "w").close()
        for _ in range(2):
            self.assertEqual(self.host.in_vm(FAKE_KVM="silent").stdout, "accel tcg\n")
        self.assertEqual(self.host.calls("qemu"),
                         ["qemu kvm probe", "qemu tcg boot", "qemu tcg boot"])


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""Checks of scripts/release and scripts/verify-release, with throw-away
certificates and a time-stamping authority on the loopback address, run in a
repository whose one commit holds this working tree's files: a clean tree at
HEAD whatever state the developer's tree is in, and the scripts under test
are the working tree's. Each class builds only what it needs (a clean i686
build takes a while).

    /usr/bin/python3 -B -m unittest -v checks.test_release     (from the repository root)
"""
import hashlib
import os
import pty
import re
import shutil
import socket
import subprocess
import tempfile
import unittest
from datetime import datetime, timedelta, timezone
from pathlib import Path

import pefile

from checks.throwaway_signer import make_signer, sign, verify
from checks.throwaway_tsa import TimestampAuthority

ROOT = Path(__file__).resolve().parent.parent
PASSWORD = "throwaway Pa55-word"
VERSION = "1.0.0.0"
# Shims that record the command lines of the tools that get the password.
RECORDING_SHIM = '#!/bin/sh\nprintf "%s\\n" "$(basename "$0") $*" >> "$ARGV_RECORD"\nexec /usr/bin/$(basename "$0") "$@"\n'


def git(repo, *args):
    return subprocess.run(["git", "-C", str(repo), "-c", "user.name=Test", "-c", "user.email=test@localhost",
                           *args], check=True, capture_output=True, text=True).stdout.strip()


def snapshot_repository(folder):
    """A repository in FOLDER whose one commit holds the working tree's files
    that git does not ignore. Returns the commit."""
    listed = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    for name in filter(None, listed):
        source = ROOT / name
        if source.is_file():  # a file deleted but not yet committed is left out
            (folder / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, folder / name)
    git(folder, "init", "--quiet")
    git(folder, "add", "--all")
    git(folder, "commit", "--quiet", "--message", "snapshot of the working tree")
    return git(folder, "rev-parse", "HEAD")


def folder_state(folder):
    """Every file in FOLDER (hidden ones too) with its bytes' hash and mtime."""
    if not folder.exists():
        return None
    return {path.name: (hashlib.sha256(path.read_bytes()).hexdigest(), path.stat().st_mtime_ns)
            for path in sorted(folder.iterdir())}


def iso(moment):
    """MOMENT as the release scripts print dates (openssl's ISO 8601 form)."""
    return f"{moment:%Y-%m-%d %H:%M:%S}Z"


def changed_byte(exe, section_name, target):
    """A copy of EXE with one byte in the middle of a section flipped."""
    data = bytearray(exe.read_bytes())
    section = next(s for s in pefile.PE(data=bytes(data), fast_load=True).sections
                   if s.Name.rstrip(b"\0") == section_name.encode())
    data[section.PointerToRawData + section.SizeOfRawData // 2] ^= 0x01
    target.write_bytes(bytes(data))
    return target


class ReleaseCase(unittest.TestCase):
    signer_validity = (-1, 365)  # days from now

    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="tavrelo-release-test."))
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        cls.repo = cls.work / "repo"
        cls.repo.mkdir()
        cls.commit = snapshot_repository(cls.repo)
        cls.signer = make_signer(cls.work, PASSWORD, valid=cls.signer_validity)
        shims = cls.work / "shims"
        shims.mkdir()
        for tool in ("openssl", "osslsigncode"):
            (shims / tool).write_text(RECORDING_SHIM)
            (shims / tool).chmod(0o755)
        cls.argv_record = cls.work / "argv.txt"
        cls.environment = {**os.environ, "PATH": f"{shims}:{os.environ['PATH']}", "ARGV_RECORD": str(cls.argv_record)}

    @classmethod
    def run_script(cls, script, *args, repo=None, password=PASSWORD, stdin=subprocess.DEVNULL):
        environment = {**cls.environment, "TAVRELO_SIGN_PASSWORD": password}
        if password is None:
            del environment["TAVRELO_SIGN_PASSWORD"]
        return subprocess.run([str((repo or cls.repo) / "scripts" / script), *map(str, args)], env=environment,
                              stdin=stdin, capture_output=True, text=True, timeout=600)

    def recorded_command_lines(self):
        return self.argv_record.read_text() if self.argv_record.exists() else ""


class SignedReleaseTests(ReleaseCase):
    """One signed release, built once, time-stamped by a local authority with
    a certificate that expires in 10 days, and what can be checked on it."""
    signer_validity = (-1, 10)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.tsa = cls.enterClassContext(TimestampAuthority(cls.work))
        cls.started = datetime.now(timezone.utc).replace(microsecond=0)
        cls.result = cls.run_script("release", "--sign", cls.signer.pfx, "--timestamp", cls.tsa.url)
        cls.finished = datetime.now(timezone.utc)
        cls.dist = cls.repo / "dist"
        cls.names = [f"tavrelo-{VERSION}-{cls.commit}{end}" for end in (".exe", "-signed.exe", ".toolchain.txt")]
        cls.unsigned, cls.signed, cls.toolchain = (cls.dist / name for name in cls.names)

    def setUp(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)

    def test_dist_holds_the_unsigned_and_signed_exe_and_their_sums(self):
        self.assertEqual(sorted(os.listdir(self.dist)), sorted(["SHA256SUMS", *self.names]))
        sums = (self.dist / "SHA256SUMS").read_text().splitlines()
        self.assertEqual([line.split("  ")[1] for line in sums], self.names)
        check = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=self.dist,
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertIn(f"Release {VERSION} of {self.commit}", self.result.stdout)
        # Beside the exe: the versions of the pinned toolchain that built it.
        lock = (self.repo / "cmake" / "windows-toolchain.lock").read_text().splitlines()
        self.assertEqual(self.toolchain.read_text().splitlines(), [line for line in lock if line and line[0] != "#"])

    def test_the_password_is_on_no_command_line_and_in_no_output(self):
        command_lines = self.recorded_command_lines()
        self.assertIn("osslsigncode sign", command_lines)
        self.assertIn("-h sha256", command_lines)
        self.assertIn("openssl pkcs12", command_lines)
        for text in (command_lines, self.result.stdout, self.result.stderr):
            self.assertNotIn("Pa55", text)

    def test_the_signature_verifies_against_the_signing_certificate_only(self):
        verdict = verify(self.signer, self.signed)
        self.assertEqual(verdict.returncode, 0, verdict.stdout + verdict.stderr)
        self.assertIn("Message digest algorithm  : SHA256", verdict.stdout)
        stranger = make_signer(self.work, "other", name="stranger")
        self.assertNotEqual(verify(stranger, self.signed).returncode, 0)

    def time_stamp(self, exe):
        """The time of EXE's time-stamp that osslsigncode (2.9, or Debian 12's
        2.5) reports, None without one."""
        report = verify(self.signer, exe).stdout
        found = re.search(r"^\s*(?:Timestamp time|The signature is timestamped): (.+)$", report, re.MULTILINE)
        return found and datetime.strptime(found[1], "%b %d %H:%M:%S %Y GMT").replace(tzinfo=timezone.utc)

    def test_the_release_says_on_one_line_that_the_certificate_expires_soon(self):
        self.assertEqual(self.result.stderr.splitlines(), [
            f"release: the certificate in {self.signer.pfx} expires within 30 days (not after "
            f"{iso(self.signer.not_after)}); only time-stamped signatures stay valid after that"])

    def test_the_signature_carries_a_time_stamp_that_keeps_it_valid_after_the_certificate_expires(self):
        self.assertEqual(self.tsa.queries, ["/"])
        stamped = self.time_stamp(self.signed)
        self.assertIsNotNone(stamped)
        self.assertTrue(self.started <= stamped <= self.finished, stamped)
        verdict = verify(self.signer, self.signed, tsa_root=self.tsa.root)
        self.assertEqual(verdict.returncode, 0, verdict.stdout + verdict.stderr)
        self.assertIn("Timestamp Server Signature verification: ok", verdict.stdout)
        # A day after the certificate has expired, the signature holds as of
        # its time-stamp, which only the authority's root vouches for. The same
        # exe signed without a time-stamp no longer holds.
        later = self.signer.not_after + timedelta(days=1)
        self.assertEqual(verify(self.signer, self.signed, tsa_root=self.tsa.root, at=later).returncode, 0)
        self.assertNotEqual(verify(self.signer, self.signed, tsa_root=self.signer.cert, at=later).returncode, 0)
        plain = sign(self.signer, self.unsigned, self.work / "not-time-stamped.exe")
        self.assertEqual(verify(self.signer, plain).returncode, 0)
        self.assertNotEqual(verify(self.signer, plain, tsa_root=self.tsa.root, at=later).returncode, 0)

    def test_verify_release_says_the_signed_exe_matches_its_commit_and_what_its_signature_says(self):
        result = self.run_script("verify-release", self.signed, self.commit[:10])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), [
            f"signed by /CN=Throwaway test signer, whose certificate expires {iso(self.signer.not_after)}",
            f"time-stamped {iso(self.time_stamp(self.signed))}, so the signature stays valid after the certificate "
            "expires",
            f"matches {self.commit}"])

    def test_a_changed_byte_fails_verify_release_whatever_the_signature(self):
        # Changed after signing, the exe no longer matches its signature;
        # changed and then signed afresh (without a time-stamp), it does, but
        # its bytes are still not what the commit builds.
        after = changed_byte(self.signed, ".text", self.work / "changed-after-signing.exe")
        before = sign(self.signer, changed_byte(self.unsigned, ".rsrc", self.work / "changed.exe"),
                      self.work / "changed-before-signing.exe")
        cases = [(after, ".text", False, ["the signature does not match the exe's contents: it was changed after "
                                          "it was signed"]),
                 (before, ".rsrc", True, [f"signed by /CN=Throwaway test signer, whose certificate expires "
                                          f"{iso(self.signer.not_after)}",
                                          "not time-stamped, so Windows stops trusting the signature when the "
                                          "certificate expires"])]
        for exe, section, signature_holds, signature_lines in cases:
            with self.subTest(section=section):
                self.assertEqual(verify(self.signer, exe).returncode == 0, signature_holds)
                result = self.run_script("verify-release", exe)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                *lines, verdict = result.stdout.splitlines()
                self.assertEqual(lines, signature_lines)
                self.assertIn(f"in section {section} ", verdict)

    def test_the_comparison_names_header_fields_and_trailing_data(self):
        data = self.unsigned.read_bytes()
        pe = pefile.PE(data=data, fast_load=True)
        checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        stamp = pe.FILE_HEADER.get_field_absolute_offset("TimeDateStamp")
        cases = [(data[:checksum] + b"\xff" * 4 + data[checksum + 4:], "only the PE checksum differs"),
                 (data[:stamp + 1] + b"\x7f" + data[stamp + 2:], "IMAGE_FILE_HEADER, field TimeDateStamp"),
                 (data + b"\0" * 8, "in the data after the sections; ")]
        for changed, message in cases:
            with self.subTest(message=message):
                given = self.work / "compared.exe"
                given.write_bytes(changed)
                result = subprocess.run(["/usr/bin/python3", "-B", ROOT / "checks" / "release_pe.py", "compare",
                                         self.unsigned, given], capture_output=True, text=True)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(message, result.stdout)

    def test_verify_release_refuses_a_file_that_is_no_pe_and_an_unknown_commit(self):
        not_pe = self.work / "notes.exe"
        not_pe.write_text("MZ but nothing else\n")
        for args, message in (((not_pe,), "is not a PE file"),
                              ((self.unsigned, "0123456789abcdef"), "no commit 0123456789abcdef")):
            with self.subTest(message=message):
                result = self.run_script("verify-release", *args)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, "")

    def test_an_unsigned_release_of_a_later_commit_joins_the_earlier_one(self):
        later = self.work / "later"
        shutil.copytree(self.repo, later, symlinks=True)
        git(later, "commit", "--quiet", "--allow-empty", "--message", "a later commit")
        commit = git(later, "rev-parse", "HEAD")
        result = self.run_script("release", repo=later, password=None)
        self.assertEqual(result.returncode, 0, result.stderr)
        new, toolchain = f"tavrelo-{VERSION}-{commit}.exe", f"tavrelo-{VERSION}-{commit}.toolchain.txt"
        self.assertEqual(sorted(os.listdir(later / "dist")), sorted(["SHA256SUMS", *self.names, new, toolchain]))
        sums = (later / "dist" / "SHA256SUMS").read_text()
        earlier, added = sums.splitlines()[:-2], sums.splitlines()[-2:]
        self.assertEqual(earlier, (self.dist / "SHA256SUMS").read_text().splitlines())
        self.assertEqual([line.split("  ")[1] for line in added], [new, toolchain])
        # The same sources give the same bytes, built minutes apart in other
        # folders, and the unsigned exe is checked as it is.
        self.assertEqual((later / "dist" / new).read_bytes(), self.unsigned.read_bytes())
        # The exe the end-to-end tests run is the one that ships.
        if os.environ.get("TAVRELO_WIN32_DIR"):
            shipped = Path(os.environ["TAVRELO_WIN32_DIR"]) / "bin" / "tavrelo.exe"
            self.assertEqual(shipped.read_bytes(), self.unsigned.read_bytes(), f"{shipped} differs from the release")
        verdict = self.run_script("verify-release", later / "dist" / new, repo=later)
        self.assertEqual((verdict.returncode, verdict.stdout), (0, f"matches {commit}\n"), verdict.stderr)


class RefusalTests(ReleaseCase):
    """Every refusal is one line on stderr and exit code 1, and leaves dist/,
    which holds an earlier release, exactly as it was."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        dist = cls.repo / "dist"
        dist.mkdir()
        (dist / "tavrelo-0.9.0.0-earlier.exe").write_bytes(b"MZ an earlier release")
        (dist / "SHA256SUMS").write_text(f"{'0' * 64}  tavrelo-0.9.0.0-earlier.exe\n")
        cls.dist_before = folder_state(dist)

    def assert_refused(self, result, *words, repo=None):
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
        for word in words:
            self.assertIn(word, result.stderr)
        self.assertEqual(folder_state((repo or self.repo) / "dist"), self.dist_before)

    def test_a_tree_with_uncommitted_changes_is_refused_and_they_are_named(self):
        clone = self.work / "dirty"
        shutil.copytree(self.repo, clone, symlinks=True)
        with open(clone / "README.md", "a") as readme:
            readme.write("a change\n")
        (clone / "launcher" / "new_file.cc").write_text("// not committed\n")
        result = self.run_script("release", repo=clone)
        self.assert_refused(result, "uncommitted changes", "README.md", "launcher/new_file.cc", repo=clone)

    def test_a_missing_or_unreadable_pfx_is_refused(self):
        not_pkcs12 = self.work / "not-a-pfx.pfx"
        not_pkcs12.write_bytes(b"-----BEGIN NOTHING-----\n")
        cases = [(self.work / "missing.pfx", "no PFX file"), (self.work, "cannot read the PFX file"),
                 (not_pkcs12, "not a readable PKCS#12")]
        if os.geteuid() != 0:  # root reads any file
            locked = self.work / "locked.pfx"
            shutil.copy(self.signer.pfx, locked)
            locked.chmod(0)
            cases.append((locked, "cannot read the PFX file"))
        for pfx, message in cases:
            with self.subTest(pfx=pfx.name):
                self.assert_refused(self.run_script("release", "--sign", pfx), message)

    def test_a_wrong_or_absent_password_is_refused(self):
        self.assert_refused(self.run_script("release", "--sign", self.signer.pfx, password="not it"),
                            "wrong password")
        self.assert_refused(self.run_script("release", "--sign", self.signer.pfx, password=None),
                            "no password", "TAVRELO_SIGN_PASSWORD")

    def test_without_the_variable_the_password_is_asked_for_on_a_terminal(self):
        # The right password opens the PFX, and its certificate is refused
        # before any build; a wrong one does not.
        server = make_signer(self.work, PASSWORD, "serverAuth", name="typed")
        for typed, message in ((PASSWORD, "cannot sign code"), ("not it", "wrong password")):
            with self.subTest(message=message):
                keyboard, terminal = pty.openpty()
                try:
                    os.write(keyboard, typed.encode() + b"\n")
                    result = self.run_script("release", "--sign", server.pfx, password=None, stdin=terminal)
                finally:
                    os.close(keyboard)
                    os.close(terminal)
                prompt, result.stderr = result.stderr.split("\n", 1)
                self.assertEqual(prompt, f"Password of {server.pfx}: ")
                self.assert_refused(result, message)

    def test_a_certificate_that_cannot_sign_code_is_refused(self):
        cases = [("serverAuth", "digitalSignature", "extended key usage lacks code signing"),
                 (None, "digitalSignature", "extended key usage lacks code signing"),
                 ("codeSigning", "keyEncipherment", "key usage lacks digital signature")]
        for extended, key, message in cases:
            with self.subTest(extended=extended, key=key):
                other = make_signer(self.work, PASSWORD, extended, key, name=f"{extended}-{key}")
                self.assert_refused(self.run_script("release", "--sign", other.pfx), "cannot sign code", message)

    def test_a_certificate_outside_its_validity_period_is_refused_with_its_dates(self):
        for valid, message in (((-40, -10), "has expired"), ((10, 40), "is not valid yet")):
            with self.subTest(message=message):
                signer = make_signer(self.work, PASSWORD, valid=valid, name=message.replace(" ", "-"))
                result = self.run_script("release", "--sign", signer.pfx)
                self.assert_refused(result, f"the certificate in {signer.pfx} {message}",
                                    f"not before {iso(signer.not_before)}, not after {iso(signer.not_after)}")
                self.assertNotIn("Building", result.stdout)

    def test_a_time_stamp_server_that_fails_fails_the_signing_after_the_build_and_leaves_dist_alone(self):
        # No network here: a port on which nothing listens refuses at once.
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            nothing_listens = f"http://127.0.0.1:{probe.getsockname()[1]}/"
        with TimestampAuthority(self.work) as tsa:
            for url in (nothing_listens, tsa.url + "error", tsa.url + "garbage"):
                with self.subTest(url=url):
                    self.argv_record.unlink(missing_ok=True)
                    result = self.run_script("release", "--sign", self.signer.pfx, "--timestamp", url)
                    self.assert_refused(result, f"osslsigncode could not sign with a time-stamp from {url}: ")
                    self.assertIn(f"-ts {url} ", self.recorded_command_lines())
                    self.assertIn("Building", result.stdout, "the failure came before the build")
            self.assertEqual(tsa.queries, ["/error", "/garbage"])


if __name__ == "__main__":
    unittest.main()

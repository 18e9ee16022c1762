"""scripts/release --sign and scripts/verify-release with a throw-away code-signing certificate, in a
repository whose one commit holds this working tree's files: the release is the bytes of the i686 build
the other tests check (TAVRELO_WIN32_DIR), and a signed exe changed after signing fails verification."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PASSWORD = "throw-away"


def run(*args, check=False, **kw):
    done = subprocess.run(list(map(str, args)), capture_output=True, text=True, stdin=subprocess.DEVNULL, **kw)
    assert done.returncode == 0 or not check, f"{args[:2]} failed: {done.stderr}"
    return done


class Release(unittest.TestCase):
    def test_the_signed_release_is_the_i686_build_and_a_changed_one_fails_verification(self):
        work = Path(self.enterContext(tempfile.TemporaryDirectory()))
        repo = work / "repo"
        pfx = work / "signer.pfx"
        cert = work / "cert.pem"
        for name in run("git", "-C", ROOT, "ls-files", "-z", "-co", "--exclude-standard").stdout.split("\0"):
            if name and (ROOT / name).is_file():  # not a file deleted but not committed yet
                (repo / name).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(ROOT / name, repo / name)
        git = ("git", "-C", repo, "-c", "user.name=Test", "-c", "user.email=test@localhost")
        for args in (("init", "-q"), ("add", "-A"), ("commit", "-qm", "snapshot")):
            run(*git, *args, check=True)
        commit = run(*git, "rev-parse", "HEAD").stdout.strip()
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-out", cert,
            "-keyout", work / "key.pem", "-subj", "/CN=Throwaway signer", "-addext", "keyUsage=digitalSignature",
            "-addext", "extendedKeyUsage=codeSigning", check=True)
        run("openssl", "pkcs12", "-export", "-in", cert, "-inkey", work / "key.pem", "-out", pfx,
            "-passout", "pass:" + PASSWORD, check=True)
        release = run(repo / "scripts/release", "--sign", pfx, env={**os.environ, "TAVRELO_SIGN_PASSWORD": PASSWORD})
        self.assertEqual(release.returncode, 0, release.stderr)
        exe = repo / "dist" / f"tavrelo-1.0.0.0-{commit}.exe"
        signed = repo / "dist" / f"tavrelo-1.0.0.0-{commit}-signed.exe"
        self.assertEqual(exe.read_bytes(), Path(os.environ["TAVRELO_WIN32_DIR"], "bin/tavrelo.exe").read_bytes())
        self.assertEqual(run("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=repo / "dist").returncode, 0)
        verdict = run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
        self.assertEqual(verdict.returncode, 0, verdict.stdout + verdict.stderr)
        changed = bytearray(signed.read_bytes())
        changed[0x800] ^= 1  # in the code
        (work / "changed.exe").write_bytes(changed)
        for given, code, says in ((signed, 0, ["signed by /CN=Throwaway signer", f"matches {commit}"]),
                                  (work / "changed.exe", 1, ["does not match the exe's contents", "differs"])):
            result = run(repo / "scripts/verify-release", given)
            self.assertEqual(result.returncode, code, result.stdout + result.stderr)
            for text in says:
                self.assertIn(text, result.stdout)


if __name__ == "__main__":
    unittest.main()

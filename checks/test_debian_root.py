"""scripts/debian-root makes roots from the Debian archives of the host's apt sources, here made-up ones."""
import os, pathlib, subprocess, tempfile, unittest  # noqa: E401
M, S = "http://mirror.example.internal/debian", "http://snapshot.example.internal/archive/debian-security/20250520T000000Z"
OTHER = "deb http://apt.example.internal/debian bookworm stable\ndeb http://tools.example.internal/apt nodistro main\n"
CASES = [("sources.list", f"# deb {M}-old bookworm main\n{OTHER}deb [arch=amd64] {M} bookworm contrib main\ndeb {S} bookworm-security main\n", "trixie", M, S),
         ("sources.list.d/debian.sources", f"Types: deb\nURIs: {M}-old\nSuites: trixie\nComponents: main\nEnabled: no\n\nTypes: deb\nURIs: {S}\nSuites: trixie trixie-updates\nComponents: main\n\nTypes: deb-src deb\nURIs: {M}\nSuites: trixie-security\nComponents: main\n", "bookworm", S, M),
         ("sources.list.d/other.list", OTHER, "trixie", None, None)]  # no Debian archive: mmdebstrap's own
class ArchiveLines(unittest.TestCase):  # noqa: E302
    def test_the_hosts_archives_with_the_releases_suites(self):
        for name, text, release, main, security in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as apt:
                os.mkdir(apt + "/sources.list.d")
                pathlib.Path(apt, name).write_text(text)
                run = subprocess.run(["scripts/debian-root", "sources", release], env=dict(os.environ, TAVRELO_APT_ETC=apt), capture_output=True, text=True, check=True)
                self.assertEqual(run.stdout.splitlines(), [f"deb {main} {release}{suite} main" for suite in ("", "-updates")] + [f"deb {security} {release}-security main"] if main else [])

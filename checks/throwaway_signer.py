"""A throw-away code-signing certificate for the tests, made with openssl when
they run (nothing key-like is kept in the repository), and signing with it.

    signer = make_signer(folder, "password")   # cert.pem, key.pem, signer.pfx in FOLDER
    sign(signer, "in.exe", "out.exe")          # Authenticode, SHA-256, through osslsigncode
"""
import os
import subprocess
from dataclasses import dataclass
from pathlib import Path


@dataclass
class Signer:
    cert: Path      # the self-signed certificate (PEM), the trust anchor for `osslsigncode verify -CAfile`
    pfx: Path       # certificate and key, protected by PASSWORD
    password: str


def make_signer(folder, password, extended_usage="codeSigning", key_usage="digitalSignature", name="signer"):
    """A self-signed certificate with these usages (None leaves the extension
    out) and its key, packed into FOLDER/NAME.pfx."""
    folder = Path(folder)
    key, cert, pfx = folder / f"{name}-key.pem", folder / f"{name}.pem", folder / f"{name}.pfx"
    extensions = []
    for extension, value in (("extendedKeyUsage", extended_usage), ("keyUsage", key_usage)):
        if value:
            extensions += ["-addext", f"{extension}={value}"]
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
         "-subj", "/CN=Throwaway test signer", *extensions])
    run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pfx, "-passout", "env:PFX_PASSWORD"],
        env={**os.environ, "PFX_PASSWORD": password})
    return Signer(cert, pfx, password)


def sign(signer, source, target):
    password_file = Path(target).with_name(Path(target).name + ".password")
    password_file.write_text(signer.password)
    try:
        run(["osslsigncode", "sign", "-pkcs12", signer.pfx, "-readpass", password_file, "-h", "sha256",
             "-in", source, "-out", target])
    finally:
        password_file.unlink()


def verify(signer, exe):
    """osslsigncode's verdict on EXE against the signer's certificate."""
    return subprocess.run(["osslsigncode", "verify", "-CAfile", signer.cert, "-in", exe],
                          capture_output=True, text=True, stdin=subprocess.DEVNULL)


def run(args, env=None):
    completed = subprocess.run([str(a) for a in args], capture_output=True, text=True, env=env,
                               stdin=subprocess.DEVNULL)
    if completed.returncode != 0:
        raise RuntimeError(f"{args[0]} {args[1]} failed: {completed.stderr.strip()[-1000:]}")
    return completed

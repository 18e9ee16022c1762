"""Throw-away certificates for the tests, made with openssl when they run
(nothing key-like is kept in the repository), and signing with them.

    signer = make_signer(folder, "password")   # signer.pem, signer-key.pem, signer.pfx in FOLDER
    signer = make_signer(folder, "password", valid=(-40, -10), name="expired")   # valid from 40 to 10 days ago
    sign(signer, "in.exe", "out.exe")          # Authenticode, SHA-256, through osslsigncode
    verify(signer, "out.exe", tsa_root=..., at=...)   # osslsigncode's verdict
"""
import os
import subprocess
from dataclasses import dataclass
from datetime import datetime, timedelta, timezone
from pathlib import Path

# openssl ca sets any validity period (openssl 3.0's req -x509 and x509 only
# count days from now); it keeps a record of what it issued in its folder.
CA_CONFIG = """\
[ca]
default_ca = throwaway
[throwaway]
database = index.txt
serial = serial
new_certs_dir = .
default_md = sha256
policy = any_name
copy_extensions = copy
unique_subject = no
[any_name]
commonName = supplied
"""


@dataclass
class Certificate:
    cert: Path      # PEM
    key: Path       # PEM, unencrypted
    not_before: datetime
    not_after: datetime


@dataclass
class Signer(Certificate):
    pfx: Path       # certificate and key, protected by PASSWORD
    password: str


def make_certificate(folder, name, subject, extensions, valid=(-1, 365), issuer=None):
    """A new key FOLDER/NAME-key.pem and its certificate FOLDER/NAME.pem with
    these extensions (openssl -addext values), valid from VALID[0] to VALID[1]
    days from now (to the second), issued by ISSUER (a Certificate) or, without
    one, self-signed."""
    folder = Path(folder)
    key, request, cert = folder / f"{name}-key.pem", folder / f"{name}.csr", folder / f"{name}.pem"
    run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
         "-subj", subject, *[arg for value in extensions for arg in ("-addext", value)]])
    ca = folder / f"{name}-ca"
    ca.mkdir(exist_ok=True)
    (ca / "openssl.cnf").write_text(CA_CONFIG)
    (ca / "index.txt").touch()
    now = datetime.now(timezone.utc).replace(microsecond=0)
    not_before, not_after = (now + timedelta(days=days) for days in valid)
    signing = ["-cert", issuer.cert, "-keyfile", issuer.key] if issuer else ["-selfsign", "-keyfile", key]
    run(["openssl", "ca", "-batch", "-notext", "-config", "openssl.cnf", "-rand_serial", *signing,
         "-startdate", f"{not_before:%Y%m%d%H%M%S}Z", "-enddate", f"{not_after:%Y%m%d%H%M%S}Z",
         "-in", request.resolve(), "-out", cert.resolve()], cwd=ca)
    return Certificate(cert, key, not_before, not_after)


def make_signer(folder, password, extended_usage="codeSigning", key_usage="digitalSignature", name="signer",
                valid=(-1, 365)):
    """A self-signed certificate with these usages (None leaves the extension
    out), valid from VALID[0] to VALID[1] days from now, and its key, packed
    into FOLDER/NAME.pfx."""
    extensions = [f"{extension}={value}" for extension, value
                  in (("extendedKeyUsage", extended_usage), ("keyUsage", key_usage)) if value]
    certificate = make_certificate(folder, name, "/CN=Throwaway test signer", extensions, valid)
    pfx = Path(folder) / f"{name}.pfx"
    run(["openssl", "pkcs12", "-export", "-in", certificate.cert, "-inkey", certificate.key, "-out", pfx,
         "-passout", "env:PFX_PASSWORD"], env={**os.environ, "PFX_PASSWORD": password})
    return Signer(**vars(certificate), pfx=pfx, password=password)


def sign(signer, source, target):
    """Signs SOURCE into TARGET without a time-stamp; returns TARGET."""
    password_file = Path(target).with_name(Path(target).name + ".password")
    password_file.write_text(signer.password)
    try:
        run(["osslsigncode", "sign", "-pkcs12", signer.pfx, "-readpass", password_file, "-h", "sha256",
             "-in", source, "-out", target])
    finally:
        password_file.unlink()
    return target


def verify(signer, exe, tsa_root=None, at=None):
    """osslsigncode's verdict on EXE, trusting the signer's certificate and,
    for a time-stamp, TSA_ROOT only, as of AT (a datetime; default now). The
    signature of a time-stamped exe is checked as of its time-stamp."""
    args = ["osslsigncode", "verify", "-CAfile", signer.cert, "-in", exe]
    if tsa_root:
        args += ["-TSA-CAfile", tsa_root]
    if at:
        args += ["-time", int(at.timestamp())]
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, stdin=subprocess.DEVNULL)


def run(args, env=None, cwd=None):
    completed = subprocess.run([str(a) for a in args], capture_output=True, text=True, env=env, cwd=cwd,
                               stdin=subprocess.DEVNULL)
    if completed.returncode != 0:
        raise RuntimeError(f"{args[0]} {args[1]} failed: {completed.stderr.strip()[-1000:]}")
    return completed

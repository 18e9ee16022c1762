"""A throw-away RFC 3161 time-stamping authority for the tests, on the loopback
address: `openssl ts -reply` signs with a certificate made when the tests run,
behind a small HTTP server on a free port.

    with TimestampAuthority(folder) as tsa:   # serves until the block ends
        tsa.url               answers time-stamp queries
        tsa.url + "error"     answers every query with HTTP status 500
        tsa.url + "garbage"   answers with bytes that are no time-stamp reply
        tsa.root              the root certificate that time-stamps verify with
        tsa.queries           the paths that queries came to, in order
"""
import http.server
import threading
from pathlib import Path

from checks.throwaway_signer import make_certificate, run

TS_CONFIG = """\
[tsa]
default_tsa = throwaway
[throwaway]
serial = serial
signer_cert = tsa.pem
signer_key = tsa-key.pem
certs = root.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
ess_cert_id_alg = sha256
"""


class TimestampAuthority:
    def __init__(self, folder):
        self.folder = Path(folder) / "tsa"
        self.folder.mkdir()
        root = make_certificate(self.folder, "root", "/CN=Throwaway time-stamping root",
                                ["basicConstraints=critical,CA:true", "keyUsage=critical,keyCertSign"], (-1, 3650))
        make_certificate(self.folder, "tsa", "/CN=Throwaway time-stamping authority",
                         ["extendedKeyUsage=critical,timeStamping", "keyUsage=critical,digitalSignature"],
                         (-1, 3650), issuer=root)
        (self.folder / "ts.cnf").write_text(TS_CONFIG)
        self.root = root.cert
        self.queries = []
        self.server = http.server.HTTPServer(("127.0.0.1", 0), Answer)
        self.server.authority = self
        self.url = f"http://127.0.0.1:{self.server.server_port}/"
        self.thread = threading.Thread(target=self.server.serve_forever)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exception):
        self.server.shutdown()
        self.thread.join()
        self.server.server_close()

    def reply(self, query):
        (self.folder / "query.tsq").write_bytes(query)
        run(["openssl", "ts", "-reply", "-config", "ts.cnf", "-queryfile", "query.tsq", "-out", "reply.tsr"],
            cwd=self.folder)
        return (self.folder / "reply.tsr").read_bytes()


class Answer(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        authority = self.server.authority
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        authority.queries.append(self.path)
        if self.path == "/error":
            self.send_error(500)
            return
        reply = b"no time-stamp reply" if self.path == "/garbage" else authority.reply(query)
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass  # the tests look at the queries, not at a log
